// SPDX-License-Identifier: GPL-3.0-or-later
// The about dialog.
#include "dialogs/frmAbout.h"

#include "controls/DialogPlacement.h"

#include "controls/Pictures.h"

#include <QShowEvent>

frmAbout::frmAbout(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    // A tool-window frame: a narrow caption bar with the close box only, no icon.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    Image1->setPixmap(pulsewerk::applicationIcon().pixmap(32, 32));
    setDefaultButton(cmdOK);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

void frmAbout::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        pulsewerk::centreOnScreen(this);
        cmdOK->setFocus(Qt::OtherFocusReason);
    }
    pulsewerk::Dialog::showEvent(event);
}
