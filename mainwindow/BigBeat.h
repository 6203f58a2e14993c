// SPDX-License-Identifier: GPL-3.0-or-later
// The big beat: a window of its own that shows the beat's place in the bar in figures
// large enough to read from the drum stool, red on a strong beat, white on a weak one,
// dark on a silent place.
#pragma once

#include <QColor>
#include <QWidget>

class frmBigBeat : public QWidget {
    Q_OBJECT

public:
    explicit frmBigBeat(QWidget *parent = nullptr);

    // Shows place `number` (from 1) of the bar as a "strong", "weak" or "silent" beat,
    // and gives screen readers `description`, as the lamp row does. Number 0 shows none.
    void showBeat(int number, const QString &kind, const QString &description);
    // Between full screen and a window, as F11 does here.
    void toggleFullScreen();

    QString text() const { return m_number > 0 ? QString::number(m_number) : QString(); }
    QColor colour() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int m_number = 0;
    QColor m_colour;
};
