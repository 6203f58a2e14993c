// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's practice routines: the count-in, setlists, the big beat and the gap
// trainer, each an action with its shortcut, listed by the window's context menu.
#include "mainwindow/frmMain.h"

#include "dialogs/frmGapTrainer.h"
#include "dialogs/frmSetlist.h"
#include "mainwindow/BigBeat.h"
#include "mainwindow/PracticeSettings.h"
#include "platform/Clock.h"
#include "platform/Say.h"
#include "settings/SettingsTable.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QRandomGenerator>

void frmMain::setUpPracticeRoutines()
{
    auto *countIn = new QActionGroup(this);
    for (int bars = 0; bars < static_cast<int>(actCountIn.size()); ++bars) {
        QAction *action = countIn->addAction(bars == 0 ? tr("No count-in") : tr("Count in %n bar(s)", nullptr, bars));
        action->setCheckable(true);
        action->setChecked(bars == 0);
        action->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + bars)));
        connect(action, &QAction::triggered, this, [this, bars] { setCountIn(bars); });
        actCountIn[static_cast<std::size_t>(bars)] = action;
    }
    actGapTrainer = new QAction(this);
    actGapTrainer->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    actPreviousSong = new QAction(tr("Previous song"), this);
    actPreviousSong->setShortcut(QKeySequence(Qt::Key_PageUp));
    actNextSong = new QAction(tr("Next song"), this);
    actNextSong->setShortcut(QKeySequence(Qt::Key_PageDown));
    actSetlist = new QAction(tr("Setlist..."), this);
    actSetlist->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    actBigBeat = new QAction(tr("Big beat"), this);
    actBigBeat->setShortcut(QKeySequence(Qt::Key_F11));
    QList<QAction *> actions(actCountIn.begin(), actCountIn.end());
    actions << actGapTrainer << actPreviousSong << actNextSong << actSetlist << actBigBeat;
    for (QAction *action : actions) {
        action->setAutoRepeat(false);
        action->setShortcutVisibleInContextMenu(true);
        addAction(action);
    }
    connect(actGapTrainer, &QAction::triggered, this, &frmMain::GapTrainer_Triggered);
    connect(actPreviousSong, &QAction::triggered, this, [this] { stepSong(-1); });
    connect(actNextSong, &QAction::triggered, this, [this] { stepSong(1); });
    connect(actSetlist, &QAction::triggered, this, &frmMain::Setlist_Triggered);
    connect(actBigBeat, &QAction::triggered, this, &frmMain::BigBeat_Triggered);

    QMenu *countInMenu = mnuContext->addMenu(tr("Count-in"));
    countInMenu->addActions(countIn->actions());
    mnuContext->addAction(actGapTrainer);
    mnuContext->addSeparator();
    mnuContext->addActions({actPreviousSong, actNextSong, actSetlist});
    mnuContext->addSeparator();
    mnuContext->addAction(actBigBeat);
    connect(mnuContext.get(), &QMenu::aboutToShow, this, &frmMain::updatePracticeRoutines);
    updatePracticeRoutines();
}

void frmMain::updatePracticeRoutines()
{
    actGapTrainer->setText(m_gapTrainer.isRunning() ? tr("Stop gap trainer") : tr("Gap trainer..."));
    actCountIn[static_cast<std::size_t>(m_countInBars)]->setChecked(true);
}

// ---- Count-in -----------------------------------------------------------------------

void frmMain::setCountIn(int bars)
{
    m_countInBars = std::clamp(bars, 0, static_cast<int>(actCountIn.size()) - 1);
    updatePracticeRoutines();
}

void frmMain::startCountIn()
{
    if (m_countInBars > 0) // without a count-in, a start reads nothing
        m_intCountInNote = static_cast<std::int16_t>(pulsewerk::readSetting(pulsewerk::settings::countInNote));
    m_countInLeft = m_countInBars * static_cast<int>(m_strPattern.size());
    m_countInSounds = false;
    m_intBeat = static_cast<std::int16_t>(m_strPattern.size() - 1);
}

// Whether the beat now due is one of the count-in; it is then counted off.
bool frmMain::countInBeat()
{
    m_countInSounds = m_countInLeft > 0;
    if (m_countInSounds)
        --m_countInLeft;
    return m_countInSounds;
}

// ---- What a beat shows --------------------------------------------------------------

// The lamp row's description and the big beat, for the beat at m_intBeat; an empty
// `kind` when no lamp is lit.
void frmMain::showBeat(const QString &picture, const QString &kind)
{
    const QString place = QStringLiteral("%1 of %2, %3").arg(m_intBeat + 1).arg(m_strPattern.size()).arg(kind);
    showLamp(m_intBeat, picture, m_countInSounds ? tr("count-in, %1").arg(place) : place, kind);
}

void frmMain::showBigBeat(int place, const QString &kind)
{
    if (m_frmBigBeat)
        m_frmBigBeat->showBeat(place, kind, Picture1->accessibleDescription());
}

void frmMain::BigBeat_Triggered()
{
    if (!m_frmBigBeat) {
        m_frmBigBeat = std::make_unique<frmBigBeat>(this);
        m_frmBigBeat->addActions(actions()); // Space, PageDown and the rest work from it too
        m_frmBigBeat->showBeat(0, {}, Picture1->accessibleDescription());
    }
    if (m_frmBigBeat->isVisible()) {
        m_frmBigBeat->toggleFullScreen();
        return;
    }
    m_frmBigBeat->show();
    m_frmBigBeat->raise();
    m_frmBigBeat->activateWindow();
}

// ---- Gap trainer --------------------------------------------------------------------

bool frmMain::gapMutes(bool countIn) { return !countIn && m_gapTrainer.beat(m_intBeat == 0); }

void frmMain::GapTrainer_Triggered()
{
    if (m_gapTrainer.isRunning()) {
        m_gapTrainer.stop();
        updatePracticeRoutines();
        return;
    }
    if (!m_frmGapTrainer)
        m_frmGapTrainer = std::make_unique<frmGapTrainer>(this);
    m_frmGapTrainer->exec();
    if (!m_frmGapTrainer->m_blnOK)
        return;
    m_gapTrainer.start(m_frmGapTrainer->m_plan, QRandomGenerator::global()->generate());
    if (m_running)
        restartWithDownbeat(); // the first bar played starts now
    updatePracticeRoutines();
}

// ---- Setlists -----------------------------------------------------------------------

// The stored songs are read at the first use of the setlist, so that without one the
// start reads nothing more than before.
void frmMain::readSongsOnce()
{
    if (m_songsRead)
        return;
    m_songs = pulsewerk::readSongs();
    m_songsRead = true;
}

void frmMain::Setlist_Triggered()
{
    readSongsOnce();
    if (!m_frmSetlist)
        m_frmSetlist = std::make_unique<frmSetlist>(this);
    frmSetlist &dialog = *m_frmSetlist;
    dialog.m_songs = m_songs;
    dialog.m_intSong = m_song;
    dialog.m_current = {{},
                        m_intBpm,
                        pulsewerk::songMeter(cboMeter->currentIndex(), m_strPattern),
                        imgDouble->Tag().toInt(),
                        m_countInBars};
    dialog.exec();
    if (dialog.m_songs != m_songs) {
        m_songs = dialog.m_songs;
        if (!pulsewerk::writeSongs(m_songs))
            pulsewerk::say("the setlist could not be saved; it holds for this run only.");
    }
    m_song = std::min(dialog.m_intSong, static_cast<int>(m_songs.size()) - 1);
    if (dialog.m_blnPlay && m_song >= 0) {
        applySong(m_songs.at(m_song));
        if (m_running)
            restartWithDownbeat();
    }
}

// The previous or next song, as if its values were set by hand; the beat restarts on
// its first beat. No song before the first or after the last.
void frmMain::stepSong(int step)
{
    readSongsOnce();
    if (m_songs.isEmpty())
        return;
    const int song = m_song < 0 ? 0 : std::clamp(m_song + step, 0, static_cast<int>(m_songs.size()) - 1);
    if (song == m_song)
        return;
    m_song = song;
    applySong(m_songs.at(m_song));
    if (m_running)
        restartWithDownbeat();
}

bool frmMain::chooseSong(const QString &name)
{
    readSongsOnce();
    for (int i = 0; i < m_songs.size(); ++i) {
        if (m_songs.at(i).name == name) {
            m_song = i;
            applySong(m_songs.at(i));
            return true;
        }
    }
    return false;
}

void frmMain::applySong(const pulsewerk::Song &song)
{
    choosePattern(pulsewerk::meterIndex(song.meter), pulsewerk::meterPattern(song.meter));
    setTempoAsTyped(song.tempo);
    clickMultiplierTo(QString::number(song.multiplier));
    setCountIn(song.countIn);
}
