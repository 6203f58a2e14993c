// SPDX-License-Identifier: GPL-3.0-or-later
// The text box.
#include "controls/TextBox.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>

namespace pulsewerk {

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
        break;
    }
    // Letters, digits and the space bar share their codes with the classic numbering.
    const bool letter = qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z;
    const bool digit = qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9;
    if (letter || digit || qtKey == Qt::Key_Space)
        return qtKey;
    // Qt numbers the other character keys by their character, which would read as the
    // classic codes of the arrow and editing keys ('&' as Up, '(' as Down, '.' as
    // Delete); they are moved above that range. Other keys keep Qt's codes, far above it.
    return qtKey < 0x100 ? qtKey + 0x100 : qtKey;
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

// A box with a key filter lets the window's shortcuts have a typed character first
// (QLineEdit would claim every one): the window binds only characters that the filters
// discard, and a character that no shortcut takes is typed and filtered as usual.
bool TextBox::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride && KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers typing = Qt::ShiftModifier | Qt::KeypadModifier;
        const bool typed = key->text().size() == 1 && key->text().at(0).isPrint() && !(key->modifiers() & ~typing);
        if (typed) {
            event->ignore();
            return true;
        }
    }
    return QLineEdit::event(event);
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
    // X11 gives Delete the text DEL (127), but it is an editing key, not a typed character.
    const QString text = event->key() == Qt::Key_Delete ? QString() : event->text();
    if (KeyPress && text.size() > 1) {
        // A character beyond 16 bits, or several at once, is filtered one code at a time.
        const QString kept = filterTyped(text);
        if (!kept.isEmpty())
            insert(kept);
        event->accept();
        return;
    }
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

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    // Text composed by an input method (dead keys, compose sequences) is typed text too.
    if (KeyPress && !event->commitString().isEmpty()) {
        QInputMethodEvent filtered(event->preeditString(), event->attributes());
        filtered.setCommitString(filterTyped(event->commitString()), event->replacementStart(),
                                 event->replacementLength());
        QLineEdit::inputMethodEvent(&filtered);
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

QString TextBox::filterTyped(const QString &text)
{
    QString kept;
    for (const QChar c : text) {
        int keyAscii = c.unicode();
        KeyPress(keyAscii);
        if (keyAscii != 0)
            kept += QChar(keyAscii);
    }
    return kept;
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

} // namespace pulsewerk
