// The dialog's key handling. QDialog would answer Escape with reject() and Enter with
// an auto-default button; both are replaced here.
#include "controls/Dialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

Dialog::Dialog(QWidget *parent) : QDialog(parent) {}

void Dialog::setDefaultButton(QPushButton *button)
{
    m_default = button;
    // Qt's own default-button logic stays out of the way; keyPressEvent decides.
    for (QPushButton *each : findChildren<QPushButton *>()) {
        each->setAutoDefault(false);
        each->setDefault(false);
    }
    if (button)
        button->setDefault(true);
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
