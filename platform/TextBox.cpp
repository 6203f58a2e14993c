// The text box.
#include "platform/TextBox.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>

namespace {

int keyCodeOf(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Backspace:
        return vbKeyBack;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vbKeyReturn;
    case Qt::Key_Escape:
        return vbKeyEscape;
    case Qt::Key_Left:
        return vbKeyLeft;
    case Qt::Key_Up:
        return vbKeyUp;
    case Qt::Key_Right:
        return vbKeyRight;
    case Qt::Key_Down:
        return vbKeyDown;
    case Qt::Key_Delete:
        return vbKeyDelete;
    default:
        return qtKey; // letters and digits share their codes; others are passed as they are
    }
}

int shiftStateOf(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? vbShiftMask : 0) | (modifiers & Qt::ControlModifier ? vbCtrlMask : 0) |
           (modifiers & Qt::AltModifier ? vbAltMask : 0);
}

} // namespace

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (Change)
            Change();
    });
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    int keyCode = keyCodeOf(event->key());
    if (KeyDown)
        KeyDown(keyCode, shiftStateOf(event->modifiers()));
    if (keyCode == 0) {
        event->accept();
        return;
    }
    const QString text = event->text();
    if (KeyPress && text.size() == 1) {
        const int typed = text.at(0).unicode();
        int keyAscii = typed;
        KeyPress(keyAscii);
        if (keyAscii == 0) {
            // A discarded Enter or Escape still reaches the window, for its default button.
            const bool windowKey = keyCode == vbKeyReturn || keyCode == vbKeyEscape;
            event->setAccepted(!windowKey);
            return;
        }
        if (keyAscii != typed) {
            insert(QString(QChar(keyAscii)));
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TextBox::focusOutEvent(QFocusEvent *event)
{
    // By the time the old control hears of it, the application already names the new one.
    const QWidget *next = QApplication::focusWidget();
    const bool withinWindow = next && next != this && next->window() == window();
    const bool byUser = event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason;
    if (Validate && withinWindow && byUser)
        Validate();
    QLineEdit::focusOutEvent(event);
}
