// SPDX-License-Identifier: GPL-3.0-or-later
// The speed trainer dialog: start and end tempo, the step, and how many bars between
// steps, and the count-in. Start stores the four values in the settings store's own group
// for them.
#pragma once

#include "controls/Dialog.h"
#include "ui_frmSpeedTrainer.h"

class frmSpeedTrainer : public pulsewerk::Dialog, public Ui::frmSpeedTrainer {
    Q_OBJECT

public:
    explicit frmSpeedTrainer(QWidget *parent = nullptr);

    // The exchange with the caller: read after the dialog closes. m_blnOK is true when
    // it closed with Start; the four values are the last ones stored or entered.
    bool m_blnOK = false;
    int m_intStart = 80;
    int m_intEnd = 120;
    int m_intStep = 4;
    int m_intBars = 4;
    // Bars counted in before the first; set by the caller before showing, not stored.
    int m_intCountIn = 0;

protected:
    void Form_Load() override;

private:
    void cmdStart_Click();
    void cmdCancel_Click();
};
