// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's practice tools: start and stop, tap tempo and the speed trainer,
// each an action with its shortcut, all listed by the window's context menu.
#include "mainwindow/frmMain.h"

#include "dialogs/frmSpeedTrainer.h"
#include "engine/mdlMain.h"
#include "platform/Clock.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

void frmMain::SetUpPracticeTools()
{
    actStartStop = new QAction(this);
    actStartStop->setShortcut(QKeySequence(Qt::Key_Space));
    actTapTempo = new QAction(tr("Tap tempo"), this);
    actTapTempo->setShortcut(QKeySequence(Qt::Key_T));
    actSpeedTrainer = new QAction(this);
    actSpeedTrainer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    for (QAction *action : {actStartStop, actTapTempo, actSpeedTrainer}) {
        action->setAutoRepeat(false); // a held key is one press, not a series of taps
        action->setShortcutVisibleInContextMenu(true);
        addAction(action); // the shortcut works anywhere in the window
    }
    connect(actStartStop, &QAction::triggered, this, &frmMain::StartStop_Triggered);
    connect(actTapTempo, &QAction::triggered, this, &frmMain::TapTempo_Triggered);
    connect(actSpeedTrainer, &QAction::triggered, this, &frmMain::SpeedTrainer_Triggered);

    mnuContext = std::make_unique<QMenu>();
    mnuContext->setAccessibleName(tr("Practice tools"));
    mnuContext->addActions({actStartStop, actTapTempo, actSpeedTrainer});
    connect(mnuContext.get(), &QMenu::aboutToShow, this, &frmMain::UpdatePracticeTools);
    UpdatePracticeTools();
}

void frmMain::UpdatePracticeTools()
{
    actStartStop->setText(m_running ? tr("Stop") : tr("Start"));
    actSpeedTrainer->setText(m_trainer.IsRunning() ? tr("Stop speed trainer") : tr("Speed trainer..."));
}

// A popup, so the beat goes on while it is open. Picture buttons answer every mouse
// button with their own action, so a right click on one shows no menu.
void frmMain::contextMenuEvent(QContextMenuEvent *event)
{
    const auto *button = qobject_cast<PictureBox *>(childAt(event->pos()));
    if (button && button->parentWidget() != Picture1) {
        event->ignore();
        return;
    }
    mnuContext->popup(event->globalPos());
    event->accept();
}

// ---- Start and stop -----------------------------------------------------------------

void frmMain::StartStop_Triggered()
{
    if (m_running) {
        OnBeatOff(); // the sounding note released now
        m_running = false;
        UpdateLedRow(); // every lamp dark
    } else {
        RestartWithDownbeat();
    }
    UpdatePracticeTools();
}

// The first position of the pattern sounds at the loop's next pass, and the beat grid
// runs from there.
void frmMain::RestartWithDownbeat()
{
    OnBeatOff(); // nothing while stopped
    m_running = true;
    m_intBeat = static_cast<std::int16_t>(m_strPattern.size() - 1);
    m_trainer.RestartBar();
    mdlMain::StartBeatGrid();
}

// ---- Tap tempo ----------------------------------------------------------------------

void frmMain::TapTempo_Triggered()
{
    const std::uint32_t now = platform::clock().timeGetTime();
    const std::optional<int> tempo = m_tapTempo.Tap(now);
    if (!tempo)
        return;
    SetTempoAsTyped(*tempo);
    if (!m_running)
        return;
    // The beat lands with the taps: the first position, one period after this tap.
    OnBeatOff();
    m_intBeat = static_cast<std::int16_t>(m_strPattern.size() - 1);
    mdlMain::MoveBeatGrid(now);
}

// The tempo goes in as if typed into the tempo box and Enter pressed.
void frmMain::SetTempoAsTyped(int tempo)
{
    Text1->setText(QString::number(tempo));
    int keyAscii = vbKeyReturn;
    Text1_KeyPress(keyAscii);
}

// ---- Speed trainer ------------------------------------------------------------------

void frmMain::SpeedTrainer_Triggered()
{
    if (m_trainer.IsRunning()) {
        m_trainer.Stop();
        UpdatePracticeTools();
        return;
    }
    if (!m_frmSpeedTrainer)
        m_frmSpeedTrainer = std::make_unique<frmSpeedTrainer>(this);
    frmSpeedTrainer &dialog = *m_frmSpeedTrainer;
    dialog.exec();
    if (!dialog.m_blnOK)
        return;
    m_trainer.Start({dialog.m_intStart, dialog.m_intEnd, dialog.m_intStep, dialog.m_intBars});
    m_trainerSetsTempo = true;
    SetTempoAsTyped(dialog.m_intStart);
    m_trainerSetsTempo = false;
    RestartWithDownbeat(); // the first bar starts now
    UpdatePracticeTools();
}

// Any tempo but the trainer's own stops the trainer.
void frmMain::TempoChanged()
{
    if (m_trainerSetsTempo || !m_trainer.IsRunning())
        return;
    m_trainer.Stop();
    UpdatePracticeTools();
}

void frmMain::TrainerDownbeat()
{
    const int tempo = m_trainer.Downbeat();
    if (tempo == 0)
        return;
    m_trainerSetsTempo = true;
    SetTempoAsTyped(tempo);
    m_trainerSetsTempo = false;
    UpdatePracticeTools();
}
