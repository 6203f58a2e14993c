// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's practice tools: start and stop, tap tempo and the speed trainer,
// each an action with its shortcut, all listed by the window's context menu.
#include "mainwindow/frmMain.h"

#include "dialogs/frmSpeedTrainer.h"
#include "engine/BeatTiming.h"
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "platform/Clock.h"
#include "sync/LinkSession.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

#include <algorithm>

void frmMain::setUpPracticeTools()
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
    connect(mnuContext.get(), &QMenu::aboutToShow, this, &frmMain::updatePracticeTools);
    updatePracticeTools();
}

void frmMain::updatePracticeTools()
{
    actStartStop->setText(m_running ? tr("Stop") : tr("Start"));
    actSpeedTrainer->setText(m_trainer.isRunning() ? tr("Stop speed trainer") : tr("Speed trainer..."));
}

// A popup, so the beat goes on while it is open. Picture buttons answer every mouse
// button with their own action, so a right click on one shows no menu.
void frmMain::contextMenuEvent(QContextMenuEvent *event)
{
    const auto *button = qobject_cast<pulsewerk::PictureBox *>(childAt(event->pos()));
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
    if (mdlMain::startStopTransport(!m_running))
        return; // the beat follows the transport
    if (m_link && !m_playingFromSession)
        m_link->setPlaying(!m_running, barLength()); // every peer starts or stops with it
    if (m_running) {
        mdlMidi::dropUnheardNotes(); // a beat sent but not heard yet stays unheard
        OnBeatOff();                 // the sounding note released now
        m_running = false;
        UpdateLedRow(); // every lamp dark
    } else {
        restartWithDownbeat();
    }
    updatePracticeTools();
}

void frmMain::followTransport(bool rolling)
{
    OnBeatOff(); // nothing while stopped
    m_running = rolling;
    if (rolling) {
        m_trainer.restartBar();
        m_gapTrainer.restart();
        m_countInLeft = 0;
    } else {
        UpdateLedRow(); // every lamp dark
    }
    updatePracticeTools();
}

void frmMain::setNextPosition(int index)
{
    if (m_strPattern.isEmpty())
        return;
    const auto length = static_cast<int>(m_strPattern.size());
    m_intBeat = static_cast<std::int16_t>((index % length + length - 1) % length);
}

// The first position of the pattern sounds at the loop's next pass, and the beat grid
// runs from there.
void frmMain::restartWithDownbeat()
{
    OnBeatOff(); // nothing while stopped
    mdlMidi::dropUnheardNotes();
    m_running = true;
    m_trainer.restartBar();
    m_gapTrainer.restart();
    startCountIn(); // the first position after the count-in, if any
    mdlMain::startBeatGrid();
}

// ---- Tap tempo ----------------------------------------------------------------------

void frmMain::TapTempo_Triggered()
{
    const std::uint32_t now = mdlMain::context().clock->timeGetTime();
    const std::optional<int> tempo = m_tapTempo.tap(now);
    if (!tempo)
        return;
    setTempoAsTyped(*tempo);
    if (!m_running)
        return;
    // The beat lands with the taps: the first position, heard one period after this tap,
    // with no count-in before it. The grid goes back by the time the output takes to sound
    // a note (less than a period), so that the click comes with the next tap, not after it.
    mdlMidi::dropUnheardNotes();
    OnBeatOff();
    m_intBeat = static_cast<std::int16_t>(m_strPattern.size() - 1);
    m_countInLeft = 0;
    const auto period = static_cast<std::uint32_t>(pulsewerk::BeatTiming::period(m_intBpm, imgDouble->Tag().toInt()));
    mdlMain::moveBeatGrid(now - std::min(mdlMidi::heardAt() - now, period - 1));
}

// The tempo goes in as if typed into the tempo box and Enter pressed.
void frmMain::setTempoAsTyped(int tempo)
{
    Text1->setText(QString::number(tempo));
    int keyAscii = pulsewerk::vbKeyReturn;
    Text1_KeyPress(keyAscii);
}

// ---- Speed trainer ------------------------------------------------------------------

void frmMain::SpeedTrainer_Triggered()
{
    if (m_trainer.isRunning()) {
        m_trainer.stop();
        updatePracticeTools();
        return;
    }
    if (!m_frmSpeedTrainer)
        m_frmSpeedTrainer = std::make_unique<frmSpeedTrainer>(this);
    frmSpeedTrainer &dialog = *m_frmSpeedTrainer;
    dialog.m_intCountIn = m_countInBars;
    dialog.exec();
    if (!dialog.m_blnOK)
        return;
    setCountIn(dialog.m_intCountIn);
    m_trainer.start({dialog.m_intStart, dialog.m_intEnd, dialog.m_intStep, dialog.m_intBars});
    m_trainerSetsTempo = true;
    setTempoAsTyped(dialog.m_intStart);
    m_trainerSetsTempo = false;
    restartWithDownbeat(); // the first bar starts now
    updatePracticeTools();
}

// Any tempo but the trainer's own stops the trainer.
void frmMain::tempoChanged()
{
    if (m_link && !m_tempoFromSession)
        m_link->setTempo(m_intBpm); // the session's from now on
    if (m_trainerSetsTempo || !m_trainer.isRunning())
        return;
    m_trainer.stop();
    updatePracticeTools();
}

void frmMain::trainerDownbeat()
{
    const int tempo = m_trainer.downbeat();
    if (tempo == 0)
        return;
    m_trainerSetsTempo = true;
    setTempoAsTyped(tempo);
    m_trainerSetsTempo = false;
    updatePracticeTools();
}
