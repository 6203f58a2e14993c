// A modal dialog with classic button handling: Escape presses nothing, Enter or Space
// on a focused button presses that button, and Enter elsewhere presses the default
// button when the dialog has one.
#pragma once

#include <QDialog>

class QPushButton;

class Dialog : public QDialog {
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);

    // The button Enter presses when the focus is not on a button; nullptr for none.
    void setDefaultButton(QPushButton *button);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPushButton *m_default = nullptr;
};
