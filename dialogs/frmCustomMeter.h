// SPDX-License-Identifier: GPL-3.0-or-later
// The custom meter dialog: the user types a pattern of strong ("2"), weak ("1") and
// silent beats, at most one character per lamp.
#pragma once

#include "controls/Dialog.h"
#include "ui_frmCustomMeter.h"

#include <QString>

class frmCustomMeter : public pulsewerk::Dialog, public Ui::frmCustomMeter {
    Q_OBJECT

public:
    explicit frmCustomMeter(QWidget *parent = nullptr);

    // The pattern going in and, after OK, coming out. Cancel leaves it as written.
    QString m_strMeter;

    static constexpr int kMaxPattern = 19; // one character per lamp

protected:
    void Form_Load() override;

private:
    void txtMeter_KeyPress(int &KeyAscii);
    void txtMeter_Change();
    void cmdOK_Click();
    void cmdCancel_Click();
};
