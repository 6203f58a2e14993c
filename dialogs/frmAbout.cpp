// SPDX-License-Identifier: GPL-3.0-or-later
// The about dialog.
#include "dialogs/frmAbout.h"

#include "controls/Pictures.h"

frmAbout::frmAbout(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    startDialog(Qt::Tool, nullptr, cmdOK);
    Image1->setPixmap(pulsewerk::applicationIcon().pixmap(32, 32));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

void frmAbout::Form_Load() { cmdOK->setFocus(Qt::OtherFocusReason); }
