// SPDX-License-Identifier: GPL-3.0-or-later
// A panel of pictures that assistive technology sees as one element: its name and
// description speak for the whole row, and the pictures inside stay out of the way.
#pragma once

#include "controls/AccessibleControls.h"

#include <QFrame>

namespace pulsewerk {

class IndicatorPanel : public QFrame {
    Q_OBJECT

public:
    explicit IndicatorPanel(QWidget *parent = nullptr) : QFrame(parent) { installAccessibleControls(); }
};

} // namespace pulsewerk
