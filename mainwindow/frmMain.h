// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: tempo, meter and lamp row, the five picture buttons, and the two
// beat operations that the beat loop calls.
#pragma once

#include "mainwindow/GapTrainer.h"
#include "mainwindow/Setlist.h"
#include "mainwindow/SpeedTrainer.h"
#include "mainwindow/TapTempo.h"
#include "ui_frmMain.h"

#include <QMenu>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

class frmBigBeat;
class frmCustomMeter;
class frmGapTrainer;
class frmOptions;
class frmSetlist;
class frmSpeedTrainer;
class QAction;
namespace pulsewerk {
class LinkSession;
}
class QLabel;

class frmMain : public QWidget, public Ui::frmMain {
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The tempo in beats per minute, 40..208, as the slider last gave it.
    std::int16_t m_intBpm = 0;

    // A beat is due: move the cursor along the pattern, sound it unless muted, light its lamp.
    void OnBeat();
    // The sounding time is over: release the current position's note and darken its lamp.
    void OnBeatOff();
    // Shows the beat's lamp changes due by the clock reading `now` (each is due when its
    // note is heard); returns the reading at which the next one is due, if one waits.
    std::optional<std::uint32_t> showDueLamps(std::uint32_t now);

    // The control arrays: lamp i stands for pattern position i; tempo names by rising tempo.
    std::array<pulsewerk::PictureBox *, 19> imgLed{};
    std::array<QLabel *, 8> lblTempo{};

    // False while the user has stopped the beat: the beat loop then only waits for events.
    bool isRunning() const { return m_running; }

    // The practice tools, each with its shortcut, listed by the window's context menu.
    QAction *actStartStop = nullptr;    // Space
    QAction *actTapTempo = nullptr;     // T
    QAction *actSpeedTrainer = nullptr; // Ctrl+T; stops a running trainer
    // The practice routines.
    std::array<QAction *, 5> actCountIn{}; // Ctrl+0..Ctrl+4: that many bars counted in
    QAction *actSetlist = nullptr;         // Ctrl+L
    QAction *actPreviousSong = nullptr;    // PageUp
    QAction *actNextSong = nullptr;        // PageDown
    QAction *actBigBeat = nullptr;         // F11
    QAction *actGapTrainer = nullptr;      // Ctrl+G; stops a running gap trainer
    // A window of its own rather than a child, so the window's own controls stay as laid out.
    std::unique_ptr<QMenu> mnuContext;

    // Bars counted in before every start, 0..4.
    int countInBars() const { return m_countInBars; }
    // The next beats are the count-in: its bars, then the pattern's first position.
    void startCountIn();
    // Makes the song named `name` of the setlist the current one and sets its values, as
    // at program start: the beat is not restarted. False when there is no such song.
    bool chooseSong(const QString &name);
    // The big beat window; nullptr until F11 first opens it.
    frmBigBeat *bigBeat() const { return m_frmBigBeat.get(); }

    // Ableton Link, a check item of the context menu kept in the settings.
    QAction *actLink = nullptr;
    // Joins or leaves the Link session; kept for this run only (the menu item keeps it).
    void setLinkOn(bool on);
    // The Link session; nullptr while Link is off.
    pulsewerk::LinkSession *linkSession() const { return m_link.get(); }
    // The bar's length in beats: the pattern's.
    int barLength() const { return static_cast<int>(m_strPattern.size()); }
    // The next beat is the bar's position `position`, counted from 0 (a sync session's place).
    void placeNextBeat(long long position);
    // Following a shared transport: the beat starts (without a count-in, on the grid the
    // beat loop is given) or stops as the transport rolls; its tempo goes on the slider;
    // the next beat sounds the pattern's position `index` (taken round the pattern).
    void followTransport(bool rolling);
    void setTempoFromTransport(int bpm) { setSliderPosition(bpm); }
    void setNextPosition(int index);
    int patternLength() const { return static_cast<int>(m_strPattern.size()); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    friend struct frmMainTestAccess;

    void Form_Load();
    void Form_Unload();

    void Slider1_Change();
    void Slider1_GotFocus();
    void Text1_KeyDown(int &KeyCode, int Shift);
    void Text1_KeyPress(int &KeyAscii);
    void Text1_Validate();
    void UpdateTempoLabels();
    void setSliderPosition(long long position);
    long long textToTempo() const;

    void cboMeter_Click();
    void UpdateLedRow();

    void imgDouble_MouseDown();
    void imgDouble_MouseUp();
    void imgDouble_Click();
    void showDoublePicture(const QString &suffix);
    void imgMute_MouseDown();
    void imgMute_MouseUp();
    void imgMute_Click();
    void imgOptions_MouseDown();
    void imgOptions_MouseUp();
    void imgOptions_Click();
    void imgAbout_MouseDown();
    void imgAbout_MouseUp();
    void imgAbout_Click();
    void imgExit_MouseDown();
    void imgExit_MouseUp();
    void imgExit_Click();

    bool soundOn() const;
    // A change of a beat's lamp (and of the lamp row's description, unless empty), made
    // when the note sent with it is heard.
    struct LampChange {
        std::uint32_t dueMs;
        int lamp;
        QString picture;
        QString description; // with a beat: what the lamp row tells a screen reader
        QString kind;        // and the beat's kind, for the big beat
    };
    void showLamp(int lamp, const QString &picture, const QString &description = {}, const QString &kind = {});
    void applyLampChange(const LampChange &change);

    void setUpShortcuts();
    void clickMultiplierTo(const QString &tag);
    void describeButtons();
    void describeLampRow(const QString &description);

    void setUpPracticeTools();
    void updatePracticeTools();
    void StartStop_Triggered();
    void TapTempo_Triggered();
    void SpeedTrainer_Triggered();
    void setTempoAsTyped(int tempo);
    void restartWithDownbeat();
    void tempoChanged();
    void trainerDownbeat();

    void setUpPracticeRoutines();
    void updatePracticeRoutines();
    void setCountIn(int bars);
    void Setlist_Triggered();
    void readSongsOnce();
    void stepSong(int step);
    void applySong(const pulsewerk::Song &song);
    void choosePattern(int meterIndex, const QString &pattern);
    void BigBeat_Triggered();
    void GapTrainer_Triggered();
    bool countInBeat();
    bool gapMutes(bool countIn);
    // The beat's lamp, the lamp row's description and the big beat, when the note is heard.
    void showBeat(const QString &picture, const QString &kind);
    void showBigBeat(int place, const QString &kind);

    void setUpLink();
    void Link_Triggered(bool checked);
    void LinkTempo_Changed(double bpm);
    void LinkPeers_Changed(int peers);
    void LinkPlaying_Changed(bool playing);

    QString m_strPattern;
    std::int16_t m_intBeat = 0;
    std::int16_t m_intMidiChannel = 0;
    std::int16_t m_intWeakNote = 0;
    std::int16_t m_intStrongNote = 0;
    std::int16_t m_intWeakVelocity = 0;
    std::int16_t m_intStrongVelocity = 0;

    bool m_loaded = false;
    std::deque<LampChange> m_lampChanges; // waiting for their notes to be heard, in order
    // The two dialogs are created at their first showing and kept, so their public
    // fields outlive each showing. Each dialog is a window of its own that belongs to
    // the main window (so the desktop gives it no task-bar entry); these pointers own them.
    std::unique_ptr<frmCustomMeter> m_frmCustomMeter;
    std::unique_ptr<frmOptions> m_frmOptions;
    std::unique_ptr<frmSpeedTrainer> m_frmSpeedTrainer;

    bool m_running = true;
    pulsewerk::TapTempo m_tapTempo;
    pulsewerk::SpeedTrainer m_trainer;
    bool m_trainerSetsTempo = false; // the tempo being set is the trainer's, not the user's

    int m_countInBars = 0;
    int m_countInLeft = 0;        // beats of the count-in still to come
    bool m_countInSounds = false; // the current beat is one of the count-in
    std::int16_t m_intCountInNote = 37;
    QList<pulsewerk::Song> m_songs;
    bool m_songsRead = false;
    int m_song = -1; // the current song's place in m_songs; -1 for none
    pulsewerk::GapTrainer m_gapTrainer;
    std::unique_ptr<frmSetlist> m_frmSetlist;
    std::unique_ptr<frmGapTrainer> m_frmGapTrainer;
    std::unique_ptr<frmBigBeat> m_frmBigBeat;

    std::unique_ptr<pulsewerk::LinkSession> m_link;
    bool m_tempoFromSession = false;   // the tempo being set came from the session: not sent back
    bool m_playingFromSession = false; // so did the start or stop under way
    bool m_linkClampSaid = false;      // the session's tempo is beyond the slider's, and that was said
};
