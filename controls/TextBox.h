// SPDX-License-Identifier: GPL-3.0-or-later
// A single-line text box raising the four events of a classic text box: key-down
// (a key code the handler may swallow by setting it to 0), key-press (a character
// code the handler may discard by setting it to 0 or replace), change (after every
// change of the text) and validate (the focus is about to move to another control
// of the same window).
#pragma once

#include <QLineEdit>

#include <functional>

namespace pulsewerk {

// Key codes passed to key-down handlers, as the classic virtual-key numbering has them.
enum KeyCode : int {
    vbKeyBack = 8,
    vbKeyReturn = 13,
    vbKeyEscape = 27,
    vbKeyLeft = 37,
    vbKeyUp = 38,
    vbKeyRight = 39,
    vbKeyDown = 40,
    vbKeyDelete = 46,
};

// Bits of the shift state passed to key-down handlers.
enum ShiftState : int { vbShiftMask = 1, vbCtrlMask = 2, vbAltMask = 4 };

class TextBox : public QLineEdit {
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);

    std::function<void(int &keyCode, int shift)> KeyDown;
    std::function<void(int &keyAscii)> KeyPress;
    std::function<void()> Change;
    std::function<void()> Validate;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // What KeyPress lets through of `text`, offered to it one character code at a time.
    QString filterTyped(const QString &text);
};

} // namespace pulsewerk
