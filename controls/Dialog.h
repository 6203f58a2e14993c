// SPDX-License-Identifier: GPL-3.0-or-later
// A modal dialog with classic button handling: Escape presses nothing, Enter or Space
// on a focused button presses that button, Enter elsewhere presses the default button
// when the dialog has one, and a button's access key (Alt and its underlined letter)
// presses it as a click does. Each time it opens it loads its values (Form_Load) and
// stands at the centre of the screen; it takes the keyboard then and gives it back to
// the window it belongs to when it closes, window manager or not.
#pragma once

#include <QDialog>

class QPushButton;

namespace pulsewerk {

class Dialog : public QDialog {
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);

    // The button Enter presses when the focus is not on a button; nullptr for none.
    void setDefaultButton(QPushButton *button);

protected:
    // The dialogs' common start, after setupUi: a fixed-size frame of `kind` (Qt::Dialog,
    // or Qt::Tool for a narrow caption bar with no icon) with the close box alone, the
    // help banner in the tooltip colours (none: nullptr) and the button Enter presses.
    void startDialog(Qt::WindowType kind, QWidget *banner, QPushButton *defaultButton);
    // Fills the dialog's controls each time it opens, before it is shown, and puts the
    // focus where the typing starts.
    virtual void Form_Load() {}

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPushButton *m_default = nullptr;
};

} // namespace pulsewerk
