// SPDX-License-Identifier: GPL-3.0-or-later
// The about dialog: the program's name, version and maker, and its icon.
#pragma once

#include "controls/Dialog.h"
#include "ui_frmAbout.h"

class frmAbout : public pulsewerk::Dialog, public Ui::frmAbout {
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

protected:
    void Form_Load() override;
};
