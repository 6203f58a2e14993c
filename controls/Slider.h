// SPDX-License-Identifier: GPL-3.0-or-later
// The tempo slider: a QSlider that reports when it gains the keyboard focus.
#pragma once

#include <QSlider>

namespace pulsewerk {

class Slider : public QSlider {
    Q_OBJECT

public:
    explicit Slider(QWidget *parent = nullptr) : QSlider(parent) {}

signals:
    void GotFocus();

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QSlider::focusInEvent(event);
        emit GotFocus();
    }
};

} // namespace pulsewerk
