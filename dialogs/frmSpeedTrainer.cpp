// SPDX-License-Identifier: GPL-3.0-or-later
// The speed trainer dialog.
#include "dialogs/frmSpeedTrainer.h"

#include "settings/SettingsTable.h"

namespace settings = pulsewerk::settings;

frmSpeedTrainer::frmSpeedTrainer(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    // The boxes hold what the settings may hold.
    txtStart->setRange(settings::trainerStart.low, settings::trainerStart.high);
    txtEnd->setRange(settings::trainerEnd.low, settings::trainerEnd.high);
    txtStep->setRange(settings::trainerStep.low, settings::trainerStep.high);
    txtBars->setRange(settings::trainerBars.low, settings::trainerBars.high);
    startDialog(Qt::Dialog, Picture1, cmdStart);

    connect(cmdStart, &QPushButton::clicked, this, &frmSpeedTrainer::cmdStart_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSpeedTrainer::cmdCancel_Click);
}

void frmSpeedTrainer::Form_Load()
{
    m_blnOK = false;
    const pulsewerk::StoredGroup stored(settings::trainerStart.group);
    m_intStart = stored.value(settings::trainerStart);
    m_intEnd = stored.value(settings::trainerEnd);
    m_intStep = stored.value(settings::trainerStep);
    m_intBars = stored.value(settings::trainerBars);
    txtStart->setValue(m_intStart);
    txtEnd->setValue(m_intEnd);
    txtStep->setValue(m_intStep);
    txtBars->setValue(m_intBars);
    txtCountIn->setValue(m_intCountIn);
    txtStart->setFocus(Qt::OtherFocusReason);
    txtStart->selectAll();
}

void frmSpeedTrainer::cmdStart_Click()
{
    m_blnOK = true;
    // A number still being typed counts as entered.
    for (QSpinBox *box : {txtStart, txtEnd, txtStep, txtBars, txtCountIn})
        box->interpretText();
    m_intStart = txtStart->value();
    m_intEnd = txtEnd->value();
    m_intStep = txtStep->value();
    m_intBars = txtBars->value();
    m_intCountIn = txtCountIn->value();
    pulsewerk::writeSettings(settings::trainerStart.group,
                             {settings::trainerStart.with(m_intStart), settings::trainerEnd.with(m_intEnd),
                              settings::trainerStep.with(m_intStep), settings::trainerBars.with(m_intBars)},
                             pulsewerk::sayNotSaved(QStringLiteral("speed trainer's values")));
    accept();
}

void frmSpeedTrainer::cmdCancel_Click() { reject(); }
