// SPDX-License-Identifier: GPL-3.0-or-later
// The big beat window.
#include "mainwindow/BigBeat.h"

#include "controls/Pictures.h"

#include <QKeyEvent>
#include <QPainter>

frmBigBeat::frmBigBeat(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("Big Beat"));
    setWindowIcon(pulsewerk::applicationIcon());
    setAccessibleName(tr("Beat"));
    setAttribute(Qt::WA_OpaquePaintEvent); // every pixel is painted
    setMinimumSize(120, 90);
    resize(480, 360);
}

void frmBigBeat::showBeat(int number, const QString &kind, const QString &description)
{
    const QColor colour = kind == QLatin1String("strong") ? QColor(255, 0, 0)
                          : kind == QLatin1String("weak") ? QColor(255, 255, 255)
                                                          : QColor(64, 64, 64);
    if (number != m_number || colour != m_colour) {
        m_number = number;
        m_colour = colour;
        update();
    }
    if (accessibleDescription() != description)
        setAccessibleDescription(description);
}

void frmBigBeat::toggleFullScreen() { setWindowState(windowState() ^ Qt::WindowFullScreen); }

void frmBigBeat::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_number <= 0)
        return;
    const QString figures = text();
    // The figures fill most of the height, and of the width when there are two.
    QFont font = this->font();
    font.setBold(true);
    font.setPixelSize(std::max(1, std::min(height() * 8 / 10, width() * 8 / 10 * 10 / (6 * int(figures.size())))));
    painter.setFont(font);
    painter.setPen(m_colour);
    painter.drawText(rect(), Qt::AlignCenter, figures);
}

void frmBigBeat::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F11 && !event->isAutoRepeat())
        toggleFullScreen();
    else if (event->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}
