// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/CursorBlink.h"

#include <QApplication>
#include <QEvent>

namespace pulsewerk {

CursorBlinkRest::CursorBlinkRest(int restAfterMs, QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(restAfterMs);
    connect(&m_timer, &QTimer::timeout, this, &CursorBlinkRest::rest);
    QCoreApplication::instance()->installEventFilter(this);
    m_timer.start();
}

CursorBlinkRest::~CursorBlinkRest()
{
    if (m_restingFlashTime > 0)
        QApplication::setCursorFlashTime(m_restingFlashTime);
}

void CursorBlinkRest::rest()
{
    // A flash time of 0 shows the cursor steadily; the text boxes follow the change at once.
    if (m_restingFlashTime > 0 || QApplication::cursorFlashTime() <= 0)
        return; // resting already, or blinking is off on this desktop
    m_restingFlashTime = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
}

void CursorBlinkRest::wake()
{
    if (m_restingFlashTime > 0) {
        QApplication::setCursorFlashTime(m_restingFlashTime);
        m_restingFlashTime = 0;
    }
    m_timer.start();
}

bool CursorBlinkRest::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::FocusIn:
        wake();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pulsewerk
