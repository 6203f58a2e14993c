// SPDX-License-Identifier: GPL-3.0-or-later
// The gap trainer dialog.
#include "dialogs/frmGapTrainer.h"

#include "mainwindow/PracticeSettings.h"
#include "settings/SettingsTable.h"

frmGapTrainer::frmGapTrainer(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    startDialog(Qt::Dialog, Picture1, cmdStart);
    // The boxes' ranges are those the store keeps.
    namespace settings = pulsewerk::settings;
    const std::array<std::pair<QSpinBox *, const pulsewerk::IntSetting *>, 5> ranges{{{txtPlay, &settings::gapPlay},
                                                                                      {txtMute, &settings::gapMute},
                                                                                      {txtChance, &settings::gapChance},
                                                                                      {txtStep, &settings::gapStep},
                                                                                      {txtEvery, &settings::gapEvery}}};
    for (const auto &[box, key] : ranges)
        box->setRange(key->low, key->high);

    connect(cmdStart, &QPushButton::clicked, this, &frmGapTrainer::cmdStart_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(optBars, &QRadioButton::toggled, this, &frmGapTrainer::showMode);
}

void frmGapTrainer::Form_Load()
{
    m_blnOK = false;
    m_plan = pulsewerk::readGapPlan();
    (m_plan.random ? optRandom : optBars)->setChecked(true);
    txtPlay->setValue(m_plan.play);
    txtMute->setValue(m_plan.mute);
    txtChance->setValue(m_plan.chance);
    txtStep->setValue(m_plan.step);
    txtEvery->setValue(m_plan.every);
    showMode();
    (m_plan.random ? optRandom : optBars)->setFocus(Qt::OtherFocusReason);
}

// Only the boxes of the chosen way of muting can be changed.
void frmGapTrainer::showMode()
{
    const bool bars = optBars->isChecked();
    for (QWidget *widget : std::initializer_list<QWidget *>{txtPlay, Label3, txtMute, Label4})
        widget->setEnabled(bars);
    for (QWidget *widget : std::initializer_list<QWidget *>{txtChance, Label5, txtStep, Label6, txtEvery, Label7})
        widget->setEnabled(!bars);
}

void frmGapTrainer::cmdStart_Click()
{
    m_blnOK = true;
    for (QSpinBox *box : {txtPlay, txtMute, txtChance, txtStep, txtEvery})
        box->interpretText(); // a number still being typed counts as entered
    m_plan.random = optRandom->isChecked();
    m_plan.play = txtPlay->value();
    m_plan.mute = txtMute->value();
    m_plan.chance = txtChance->value();
    m_plan.step = txtStep->value();
    m_plan.every = txtEvery->value();
    pulsewerk::writeGapPlan(m_plan);
    accept();
}
