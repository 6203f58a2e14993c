// SPDX-License-Identifier: GPL-3.0-or-later
// The speed trainer dialog.
#include "dialogs/frmSpeedTrainer.h"

#include "controls/DialogPlacement.h"
#include "settings/Settings.h"

#include <QShowEvent>

namespace {

const QString kApplication = QStringLiteral("Pulsewerk");
const QString kSection = QStringLiteral("Trainer");

// A stored value within its box's range, or the default when the store has none that fits.
int readTrainerSetting(const QString &key, const QSpinBox *box, int defaultValue)
{
    return pulsewerk::readWholeNumber(kApplication, kSection, key, defaultValue, box->minimum(), box->maximum());
}

} // namespace

frmSpeedTrainer::frmSpeedTrainer(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    pulsewerk::showBanner(Picture1);
    setDefaultButton(cmdStart);

    connect(cmdStart, &QPushButton::clicked, this, &frmSpeedTrainer::cmdStart_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSpeedTrainer::cmdCancel_Click);
}

void frmSpeedTrainer::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        Form_Load();
    pulsewerk::Dialog::showEvent(event);
}

void frmSpeedTrainer::Form_Load()
{
    m_blnOK = false;
    m_intStart = readTrainerSetting(QStringLiteral("Start"), txtStart, 80);
    m_intEnd = readTrainerSetting(QStringLiteral("End"), txtEnd, 120);
    m_intStep = readTrainerSetting(QStringLiteral("Step"), txtStep, 4);
    m_intBars = readTrainerSetting(QStringLiteral("Bars"), txtBars, 4);
    txtStart->setValue(m_intStart);
    txtEnd->setValue(m_intEnd);
    txtStep->setValue(m_intStep);
    txtBars->setValue(m_intBars);
    txtCountIn->setValue(m_intCountIn);
    pulsewerk::centreOnScreen(this);
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
    pulsewerk::WriteSettings(kApplication, kSection,
                             {{QStringLiteral("Start"), m_intStart},
                              {QStringLiteral("End"), m_intEnd},
                              {QStringLiteral("Step"), m_intStep},
                              {QStringLiteral("Bars"), m_intBars}},
                             {});
    accept();
}

void frmSpeedTrainer::cmdCancel_Click() { reject(); }
