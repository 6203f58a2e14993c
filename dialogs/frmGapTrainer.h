// SPDX-License-Identifier: GPL-3.0-or-later
// The gap trainer dialog: bars played and muted in turn, or beats muted by a chance
// that may rise every so many bars. Start stores the values in their own group.
#pragma once

#include "controls/Dialog.h"
#include "mainwindow/GapTrainer.h"
#include "ui_frmGapTrainer.h"

class frmGapTrainer : public pulsewerk::Dialog, public Ui::frmGapTrainer {
    Q_OBJECT

public:
    explicit frmGapTrainer(QWidget *parent = nullptr);

    // The exchange with the caller: read after the dialog closes. m_blnOK is true when
    // it closed with Start; the plan is the one last stored or entered.
    bool m_blnOK = false;
    pulsewerk::GapTrainer::Plan m_plan;

protected:
    void Form_Load() override;

private:
    void cmdStart_Click();
    void showMode();
};
