// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog's key handling. QDialog would answer Escape with reject() and Enter with
// an auto-default button; both are replaced here.
#include "controls/Dialog.h"

#include "controls/DialogPlacement.h"

#include <QApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>

namespace pulsewerk {

Dialog::Dialog(QWidget *parent) : QDialog(parent) {}

void Dialog::setDefaultButton(QPushButton *button)
{
    m_default = button;
    // Qt's own default-button logic stays out of the way; keyPressEvent decides.
    for (QPushButton *each : findChildren<QPushButton *>()) {
        each->setAutoDefault(false);
        each->setDefault(false);
        each->installEventFilter(this);
    }
    if (button)
        button->setDefault(true);
}

void Dialog::startDialog(Qt::WindowType kind, QWidget *banner, QPushButton *defaultButton)
{
    setWindowFlags(kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    if (banner)
        showBanner(banner);
    setDefaultButton(defaultButton);
}

// Without a window manager nothing gives the dialog the keyboard, or its window back
// when it closes; the dialog does both (with one, that happens anyway).
void Dialog::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        Form_Load();
        centreOnScreen(this);
    }
    QDialog::showEvent(event);
    if (!event->spontaneous())
        activateWindow();
}

void Dialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous() && parentWidget())
        parentWidget()->window()->activateWindow();
}

void Dialog::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget());
        if (focused && focused->window() == this)
            focused->click();
        else if (m_default && m_default->isVisible() && m_default->isEnabled())
            m_default->click();
        event->accept();
        return;
    }
    default:
        QDialog::keyPressEvent(event);
    }
}

// An access key moves the focus as a click does (the box left is checked), then clicks.
bool Dialog::eventFilter(QObject *watched, QEvent *event)
{
    auto *button = qobject_cast<QPushButton *>(watched);
    if (button && event->type() == QEvent::Shortcut && button->isEnabled()) {
        button->setFocus(Qt::ShortcutFocusReason);
        button->click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace pulsewerk
