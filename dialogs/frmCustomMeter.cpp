// SPDX-License-Identifier: GPL-3.0-or-later
// The custom meter dialog.
#include "dialogs/frmCustomMeter.h"

#include <algorithm>

frmCustomMeter::frmCustomMeter(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    startDialog(Qt::Dialog, Picture1, cmdOK);

    txtMeter->KeyPress = [this](int &KeyAscii) { txtMeter_KeyPress(KeyAscii); };
    txtMeter->Change = [this] { txtMeter_Change(); };
    connect(cmdOK, &QPushButton::clicked, this, &frmCustomMeter::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmCustomMeter::cmdCancel_Click);
}

void frmCustomMeter::Form_Load()
{
    txtMeter->setText(m_strMeter);
    cmdOK->setFocus(Qt::OtherFocusReason);
}

void frmCustomMeter::txtMeter_KeyPress(int &KeyAscii)
{
    const bool patternChar = KeyAscii == '0' || KeyAscii == '1' || KeyAscii == '2' || KeyAscii == '.';
    if (!patternChar && KeyAscii != pulsewerk::vbKeyBack)
        KeyAscii = 0;
}

// Whatever way the text grew, only its first characters are kept; cutting raises the
// change once more, and that pass finds nothing to cut. The caret stays where the typing
// left it, so the next character typed in front of a full pattern goes in front too.
void frmCustomMeter::txtMeter_Change()
{
    if (txtMeter->text().size() > kMaxPattern) {
        const int caret = std::min(txtMeter->cursorPosition(), kMaxPattern);
        txtMeter->setText(txtMeter->text().left(kMaxPattern));
        txtMeter->setCursorPosition(caret);
    }
}

void frmCustomMeter::cmdOK_Click()
{
    m_strMeter = txtMeter->text();
    accept();
}

void frmCustomMeter::cmdCancel_Click() { reject(); }
