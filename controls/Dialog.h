// SPDX-License-Identifier: GPL-3.0-or-later
// A modal dialog with classic button handling: Escape presses nothing, Enter or Space
// on a focused button presses that button, Enter elsewhere presses the default button
// when the dialog has one, and a button's access key (Alt and its underlined letter)
// presses it as a click does. It takes the keyboard when it opens and gives it back to the window it belongs
// to when it closes, window manager or not.
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
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPushButton *m_default = nullptr;
};

} // namespace pulsewerk
