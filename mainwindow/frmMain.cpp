// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's behaviour: load and unload, the tempo controls, meter choice and
// the lamp row, the picture buttons, and the beat operations.
#include "mainwindow/frmMain.h"

#include "controls/Numbers.h"
#include "controls/Pictures.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmGapTrainer.h"
#include "dialogs/frmOptions.h"
#include "dialogs/frmSetlist.h"
#include "dialogs/frmSpeedTrainer.h"
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "mainwindow/BigBeat.h"
#include "platform/Clock.h"
#include "settings/SettingsTable.h"
#include "sync/LinkSession.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QShortcut>

#include <algorithm>

using pulsewerk::val;

namespace {

// A stored sound setting within its range, or the key's default when the text cannot
// serve (hand-edited, corrupt, out of range).
std::int16_t ReadSoundSetting(const pulsewerk::StoredGroup &stored, const pulsewerk::IntSetting &row)
{
    return static_cast<std::int16_t>(stored.value(row));
}

} // namespace

frmMain::frmMain(QWidget *parent) : QWidget(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setWindowIcon(pulsewerk::applicationIcon());
    // The tempo controls and the meter list keep the desktop theme's colours, not the
    // window's black and white: every role of the theme's palette is set on them.
    for (QWidget *themed : std::initializer_list<QWidget *>{Slider1, Text1, cboMeter}) {
        QPalette theme = QApplication::palette(themed);
        theme.setResolveMask(~QPalette::ResolveMask(0));
        themed->setPalette(theme);
    }
    // The tempo box's own size has a fraction of a point, which a layout file cannot hold.
    QFont tempoFont = Text1->font();
    tempoFont.setPointSizeF(9.75);
    Text1->setFont(tempoFont);

    imgLed = {imgLed_0,  imgLed_1,  imgLed_2,  imgLed_3,  imgLed_4,  imgLed_5,  imgLed_6,
              imgLed_7,  imgLed_8,  imgLed_9,  imgLed_10, imgLed_11, imgLed_12, imgLed_13,
              imgLed_14, imgLed_15, imgLed_16, imgLed_17, imgLed_18};
    lblTempo = {lblTempo_0, lblTempo_1, lblTempo_2, lblTempo_3, lblTempo_4, lblTempo_5, lblTempo_6, lblTempo_7};

    // The slider's change and scroll notifications are one signal here: valueChanged
    // fires while the thumb is dragged and when code sets the position.
    connect(Slider1, &QSlider::valueChanged, this, &frmMain::Slider1_Change);
    connect(Slider1, &pulsewerk::Slider::GotFocus, this, &frmMain::Slider1_GotFocus);
    Text1->KeyDown = [this](int &KeyCode, int Shift) { Text1_KeyDown(KeyCode, Shift); };
    Text1->KeyPress = [this](int &KeyAscii) { Text1_KeyPress(KeyAscii); };
    Text1->Validate = [this] { Text1_Validate(); };
    // activated comes for every choice by mouse or keyboard, the entry already shown included.
    connect(cboMeter, &QComboBox::activated, this, &frmMain::cboMeter_Click);

    connect(imgDouble, &pulsewerk::PictureBox::MouseDown, this, &frmMain::imgDouble_MouseDown);
    connect(imgDouble, &pulsewerk::PictureBox::MouseUp, this, &frmMain::imgDouble_MouseUp);
    connect(imgDouble, &pulsewerk::PictureBox::Click, this, &frmMain::imgDouble_Click);
    connect(imgMute, &pulsewerk::PictureBox::MouseDown, this, &frmMain::imgMute_MouseDown);
    connect(imgMute, &pulsewerk::PictureBox::MouseUp, this, &frmMain::imgMute_MouseUp);
    connect(imgMute, &pulsewerk::PictureBox::Click, this, &frmMain::imgMute_Click);
    connect(imgOptions, &pulsewerk::PictureBox::MouseDown, this, &frmMain::imgOptions_MouseDown);
    connect(imgOptions, &pulsewerk::PictureBox::MouseUp, this, &frmMain::imgOptions_MouseUp);
    connect(imgOptions, &pulsewerk::PictureBox::Click, this, &frmMain::imgOptions_Click);
    connect(imgOptions, &pulsewerk::PictureBox::DblClick, this, &frmMain::imgOptions_MouseDown);
    connect(imgAbout, &pulsewerk::PictureBox::MouseDown, this, &frmMain::imgAbout_MouseDown);
    connect(imgAbout, &pulsewerk::PictureBox::MouseUp, this, &frmMain::imgAbout_MouseUp);
    connect(imgAbout, &pulsewerk::PictureBox::Click, this, &frmMain::imgAbout_Click);
    connect(imgAbout, &pulsewerk::PictureBox::DblClick, this, &frmMain::imgAbout_MouseDown);
    connect(imgExit, &pulsewerk::PictureBox::MouseDown, this, &frmMain::imgExit_MouseDown);
    connect(imgExit, &pulsewerk::PictureBox::MouseUp, this, &frmMain::imgExit_MouseUp);
    connect(imgExit, &pulsewerk::PictureBox::Click, this, &frmMain::imgExit_Click);
    connect(imgExit, &pulsewerk::PictureBox::DblClick, this, &frmMain::imgExit_MouseDown);

    setUpShortcuts();
    imgMute->setCheckable(true);
    describeButtons();
    // After the buttons' own click handlers, so the names tell the new state.
    connect(imgDouble, &pulsewerk::PictureBox::Click, this, &frmMain::describeButtons);
    connect(imgMute, &pulsewerk::PictureBox::Click, this, &frmMain::describeButtons);
    setUpPracticeTools();
    setUpPracticeRoutines();
    setUpLink();
}

frmMain::~frmMain() = default;

// ---- Load and unload ------------------------------------------------------------

void frmMain::showEvent(QShowEvent *event)
{
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    QWidget::showEvent(event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmMain::Form_Load()
{
    Slider1->setPageStep(20);
    Text1->setText(QString::number(Slider1->value()));
    namespace settings = pulsewerk::settings;
    const pulsewerk::StoredGroup stored(settings::channel.group); // one reading of the file
    m_intMidiChannel = ReadSoundSetting(stored, settings::channel);
    m_intStrongNote = ReadSoundSetting(stored, settings::strongNote);
    m_intStrongVelocity = ReadSoundSetting(stored, settings::strongVelocity);
    m_intWeakNote = ReadSoundSetting(stored, settings::weakNote);
    m_intWeakVelocity = ReadSoundSetting(stored, settings::weakVelocity);
    m_intBpm = static_cast<std::int16_t>(Slider1->value());
    UpdateTempoLabels();
    cboMeter->setCurrentIndex(0);
    cboMeter_Click();
    imgOptions->setPicture(QStringLiteral("OPTIONS_U"));
    imgExit->setPicture(QStringLiteral("EXIT_U"));
    if (pulsewerk::readSetting(settings::linkOn) == 1)
        setLinkOn(true);
    // The first control of the focus order is the slider, which passes the focus on.
    Text1->setFocus(Qt::OtherFocusReason);
}

void frmMain::Form_Unload() { mdlMain::g_blnQuit = true; }

// ---- Tempo --------------------------------------------------------------------

void frmMain::Slider1_Change()
{
    const bool changed = Slider1->value() != m_intBpm;
    Text1->setText(QString::number(Slider1->value()));
    m_intBpm = static_cast<std::int16_t>(Slider1->value());
    UpdateTempoLabels();
    if (changed)
        tempoChanged();
}

void frmMain::Slider1_GotFocus() { Text1->setFocus(Qt::OtherFocusReason); }

void frmMain::Text1_KeyDown(int &KeyCode, int Shift)
{
    const int step = Shift != 0 ? Slider1->pageStep() : Slider1->singleStep();
    if (KeyCode == pulsewerk::vbKeyUp)
        setSliderPosition(static_cast<long long>(Slider1->value()) - step);
    else if (KeyCode == pulsewerk::vbKeyDown)
        setSliderPosition(static_cast<long long>(Slider1->value()) + step);
}

void frmMain::Text1_KeyPress(int &KeyAscii)
{
    if (KeyAscii == pulsewerk::vbKeyReturn)
        setSliderPosition(textToTempo());
    const bool digit = KeyAscii >= '0' && KeyAscii <= '9';
    if (!digit && KeyAscii != pulsewerk::vbKeyBack && KeyAscii != '.')
        KeyAscii = 0;
}

void frmMain::Text1_Validate() { setSliderPosition(textToTempo()); }

long long frmMain::textToTempo() const { return pulsewerk::roundToInt32(val(Text1->text())); }

// The slider is the one authority on the tempo. A position beyond its range goes to
// the nearer end; when that is where the slider already stands no change
// notification comes, so the text box is brought back into agreement here.
void frmMain::setSliderPosition(long long position)
{
    const int clamped = static_cast<int>(std::clamp<long long>(position, Slider1->minimum(), Slider1->maximum()));
    if (clamped == Slider1->value())
        Slider1_Change();
    else
        Slider1->setValue(clamped);
}

void frmMain::UpdateTempoLabels()
{
    const int highest = static_cast<int>(lblTempo.size()) - 1;
    for (int i = 0; i <= highest; ++i) {
        const int lower = lblTempo[i]->property("Tag").toString().toInt();
        const int upper = i < highest ? lblTempo[i + 1]->property("Tag").toString().toInt() : Slider1->maximum() + 1;
        const int v = Slider1->value();
        const bool highlighted = lower <= v && v < upper;
        QPalette palette = lblTempo[i]->palette();
        palette.setColor(QPalette::WindowText, highlighted ? QColor(0, 255, 255) : QColor(255, 255, 255));
        lblTempo[i]->setPalette(palette);
        QFont font = lblTempo[i]->font();
        font.setBold(highlighted);
        lblTempo[i]->setFont(font);
    }
}

// ---- Meter and lamp row -------------------------------------------------------------

void frmMain::cboMeter_Click()
{
    QString pattern = m_strPattern;
    switch (cboMeter->currentIndex()) {
    case 0:
        pattern = QStringLiteral("1");
        break;
    case 1:
        pattern = QStringLiteral("2111");
        break;
    case 2:
        pattern = QStringLiteral("211");
        break;
    case 3:
        pattern = QStringLiteral("21");
        break;
    case 4:
        if (!m_frmCustomMeter)
            m_frmCustomMeter = std::make_unique<frmCustomMeter>(this);
        m_frmCustomMeter->m_strMeter = m_strPattern;
        m_frmCustomMeter->exec();
        pattern = m_frmCustomMeter->m_strMeter;
        break;
    default:
        break;
    }
    choosePattern(cboMeter->currentIndex(), pattern);
}

// The meter list shows entry `meterIndex`, and `pattern` is the meter from the next beat on.
void frmMain::choosePattern(int meterIndex, const QString &pattern)
{
    cboMeter->setCurrentIndex(meterIndex);
    m_strPattern = pattern.left(static_cast<int>(imgLed.size()));
    if (m_strPattern.isEmpty())
        m_strPattern = QStringLiteral("1");
    m_intBeat = static_cast<std::int16_t>(m_strPattern.size() - 1);
    m_trainer.restartBar();      // the bar cut short is no pass through a pattern
    m_countInLeft = 0;           // a count-in of the old meter does not go on in the new
    mdlMidi::dropUnheardNotes(); // nor is a beat of it heard after the choice
    QCoreApplication::processEvents();
    UpdateLedRow();
}

void frmMain::UpdateLedRow()
{
    m_lampChanges.clear(); // they belong to the row as it was
    for (pulsewerk::PictureBox *lamp : imgLed)
        lamp->hide();
    for (int j = 0; j < m_strPattern.size() && j < static_cast<int>(imgLed.size()); ++j) {
        imgLed[j]->show();
        // A silent position gets the dark weak picture too, so no lamp stays lit from
        // an earlier meter.
        imgLed[j]->setPicture(m_strPattern.at(j) == u'2' ? QStringLiteral("LED_ROFF") : QStringLiteral("LED_GOFF"));
    }
    describeLampRow(QStringLiteral("none of %1 lit").arg(m_strPattern.size()));
    showBigBeat(0, {});
}

// ---- Beat operations ----------------------------------------------------------------

bool frmMain::soundOn() const { return val(imgMute->Tag()) == 0; }

void frmMain::OnBeat()
{
    if (m_strPattern.isEmpty())
        return;
    m_intBeat = static_cast<std::int16_t>((m_intBeat + 1) % m_strPattern.size());
    if (m_intBeat >= static_cast<int>(imgLed.size()))
        return;
    const bool countIn = countInBeat();
    const bool gap = gapMutes(countIn); // asked at every beat, so the trainer counts the bars
    const bool sounding = soundOn() && !gap;
    const std::int16_t channel = static_cast<std::int16_t>(m_intMidiChannel - 1);
    const QString beat = m_strPattern.mid(m_intBeat, 1);
    QString picture = QStringLiteral("LED_GOFF");
    QString kind = QStringLiteral("silent");
    if (beat == QLatin1String("2")) {
        if (sounding)
            mdlMidi::PlayNote(channel, countIn ? m_intCountInNote : m_intStrongNote, m_intStrongVelocity);
        picture = QStringLiteral("LED_RON");
        kind = QStringLiteral("strong");
    } else if (beat == QLatin1String("1")) {
        if (sounding)
            mdlMidi::PlayNote(channel, countIn ? m_intCountInNote : m_intWeakNote,
                              countIn ? m_intStrongVelocity : m_intWeakVelocity);
        picture = QStringLiteral("LED_GON");
        kind = QStringLiteral("weak");
    }
    showBeat(picture, kind);
    if (m_intBeat == 0 && !countIn)
        trainerDownbeat();
}

void frmMain::OnBeatOff()
{
    if (!m_running)
        return; // stopped: the note was released and the lamps darkened at the stop
    if (m_intBeat < 0 || m_intBeat >= m_strPattern.size() || m_intBeat >= static_cast<int>(imgLed.size()))
        return;
    const std::int16_t channel = static_cast<std::int16_t>(m_intMidiChannel - 1);
    const std::int16_t release = 0;
    const QString beat = m_strPattern.mid(m_intBeat, 1);
    if (beat == QLatin1String("2")) {
        mdlMidi::PlayNote(channel, m_countInSounds ? m_intCountInNote : m_intStrongNote, release);
        showLamp(m_intBeat, QStringLiteral("LED_ROFF"));
    } else if (beat == QLatin1String("1")) {
        mdlMidi::PlayNote(channel, m_countInSounds ? m_intCountInNote : m_intWeakNote, release);
        showLamp(m_intBeat, QStringLiteral("LED_GOFF"));
    } else {
        showLamp(m_intBeat, QStringLiteral("LED_GOFF"));
    }
    // A note started before a meter or options change is not the one named above;
    // it is released too, so no note is left hanging.
    mdlMidi::releaseSoundingNotes();
}

// The lamp changes when the note sent with it is heard, in the order of those times:
// at once when the output is heard at once, else from the beat loop.
void frmMain::showLamp(int lamp, const QString &picture, const QString &description, const QString &kind)
{
    const LampChange change{mdlMidi::heardAt(), lamp, picture, description, kind};
    const auto later = [&change](const LampChange &waiting) {
        return static_cast<std::int32_t>(waiting.dueMs - change.dueMs) > 0;
    };
    // A change of this lamp planned for later (the release of a beat sounded late) is
    // overtaken by this one.
    m_lampChanges.erase(
        std::remove_if(m_lampChanges.begin(), m_lampChanges.end(),
                       [&](const LampChange &waiting) { return waiting.lamp == lamp && later(waiting); }),
        m_lampChanges.end());
    const auto latest = std::find_if(m_lampChanges.rbegin(), m_lampChanges.rend(),
                                     [lamp](const LampChange &waiting) { return waiting.lamp == lamp; });
    const QString shown =
        latest != m_lampChanges.rend() ? latest->picture : imgLed[static_cast<std::size_t>(lamp)]->Picture();
    if (description.isEmpty() && shown == picture)
        return; // a repeated release changes nothing, and wakes no one
    m_lampChanges.insert(std::find_if(m_lampChanges.begin(), m_lampChanges.end(), later), change);
    showDueLamps(mdlMain::context().clock->timeGetTime());
}

std::optional<std::uint32_t> frmMain::showDueLamps(std::uint32_t now)
{
    while (!m_lampChanges.empty() && static_cast<std::int32_t>(m_lampChanges.front().dueMs - now) <= 0) {
        applyLampChange(m_lampChanges.front());
        m_lampChanges.pop_front();
    }
    if (m_lampChanges.empty())
        return std::nullopt;
    return m_lampChanges.front().dueMs;
}

void frmMain::applyLampChange(const LampChange &change)
{
    imgLed[static_cast<std::size_t>(change.lamp)]->showPictureNow(change.picture);
    if (!change.description.isEmpty()) {
        describeLampRow(change.description);
        showBigBeat(change.lamp + 1, change.kind);
    }
}

// ---- Picture buttons ----------------------------------------------------------------

void frmMain::showDoublePicture(const QString &suffix)
{
    const QString tag = imgDouble->Tag();
    if (tag == QLatin1String("1"))
        imgDouble->setPicture(QStringLiteral("X1") + suffix);
    else if (tag == QLatin1String("2"))
        imgDouble->setPicture(QStringLiteral("X2") + suffix);
    else if (tag == QLatin1String("4"))
        imgDouble->setPicture(QStringLiteral("X4") + suffix);
}

void frmMain::imgDouble_MouseDown() { showDoublePicture(QStringLiteral("_D")); }

void frmMain::imgDouble_MouseUp() { showDoublePicture(QStringLiteral("_U")); }

void frmMain::imgDouble_Click()
{
    const double doubled = val(imgDouble->Tag()) * 2;
    imgDouble->setTag(QString::number(doubled));
    if (val(imgDouble->Tag()) > 4)
        imgDouble->setTag(QStringLiteral("1"));
    showDoublePicture(QStringLiteral("_U"));
}

void frmMain::imgMute_MouseDown() { imgMute->setPicture(QStringLiteral("MUTE_D")); }

void frmMain::imgMute_MouseUp() { imgMute->setPicture(QStringLiteral("MUTE_U")); }

void frmMain::imgMute_Click()
{
    imgMute->setTag(QString::number(1 - val(imgMute->Tag())));
    if (val(imgMute->Tag()) == 0) {
        imgMute->setPicture(QStringLiteral("MUTE_U"));
    } else {
        imgMute->setPicture(QStringLiteral("MUTE_D"));
        mdlMidi::dropUnheardNotes(); // a beat sent but not heard yet is muted too
        OnBeatOff();                 // release the sounding beat now, not at the end of its sounding time
    }
}

void frmMain::imgOptions_MouseDown() { imgOptions->setPicture(QStringLiteral("OPTIONS_D")); }

void frmMain::imgOptions_MouseUp() { imgOptions->setPicture(QStringLiteral("OPTIONS_U")); }

void frmMain::imgOptions_Click()
{
    if (!m_frmOptions)
        m_frmOptions = std::make_unique<frmOptions>(this);
    frmOptions &options = *m_frmOptions;
    options.m_intChannel = m_intMidiChannel;
    options.m_intStrong = m_intStrongNote;
    options.m_intWeak = m_intWeakNote;
    options.m_intStrongVel = m_intStrongVelocity;
    options.m_intWeakVel = m_intWeakVelocity;
    options.exec();
    if (options.m_blnOK) {
        m_intMidiChannel = options.m_intChannel;
        m_intStrongNote = options.m_intStrong;
        m_intWeakNote = options.m_intWeak;
        m_intStrongVelocity = options.m_intStrongVel;
        m_intWeakVelocity = options.m_intWeakVel;
    }
}

void frmMain::imgAbout_MouseDown() { imgAbout->setPicture(QStringLiteral("ABOUT_D")); }

void frmMain::imgAbout_MouseUp() { imgAbout->setPicture(QStringLiteral("ABOUT_U")); }

void frmMain::imgAbout_Click()
{
    frmAbout about(this); // a fresh dialog for every showing
    about.exec();
}

void frmMain::imgExit_MouseDown() { imgExit->setPicture(QStringLiteral("EXIT_D")); }

void frmMain::imgExit_MouseUp() { imgExit->setPicture(QStringLiteral("EXIT_U")); }

void frmMain::imgExit_Click() { close(); }

// ---- Keyboard and assistive technology -------------------------------------------------

// Each shortcut belongs to the button it works and does what a click on it does. They are
// window shortcuts, so none fires while a dialog is the active window; and none repeats
// while its keys are held, as a mouse button does not.
void frmMain::setUpShortcuts()
{
    const auto bind = [this](pulsewerk::PictureBox *button, const QList<QKeySequence> &keys, auto action) {
        auto *shortcut = new QShortcut(button);
        shortcut->setKeys(keys);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    bind(imgDouble, {Qt::Key_Asterisk, Qt::KeypadModifier | Qt::Key_Asterisk}, [this] { imgDouble->click(); });
    bind(imgDouble, {Qt::ALT | Qt::Key_1}, [this] { clickMultiplierTo(QStringLiteral("1")); });
    bind(imgDouble, {Qt::ALT | Qt::Key_2}, [this] { clickMultiplierTo(QStringLiteral("2")); });
    bind(imgDouble, {Qt::ALT | Qt::Key_4}, [this] { clickMultiplierTo(QStringLiteral("4")); });
    bind(imgMute, {Qt::ALT | Qt::Key_M}, [this] { imgMute->click(); });
    bind(imgOptions, {Qt::ALT | Qt::Key_O}, [this] { imgOptions->click(); });
    bind(imgAbout, {Qt::Key_F1}, [this] { imgAbout->click(); });
    bind(imgExit, {Qt::ALT | Qt::Key_X, Qt::CTRL | Qt::Key_Q}, [this] { imgExit->click(); });
}

// Clicks the multiplier until it shows `tag`; at most once round its cycle.
void frmMain::clickMultiplierTo(const QString &tag)
{
    for (int clicks = 0; clicks < 3 && imgDouble->Tag() != tag; ++clicks)
        imgDouble->click();
}

// The picture buttons' names tell what a click does; their tool tips add the keys.
void frmMain::describeButtons()
{
    const auto describe = [](pulsewerk::PictureBox *button, const QString &name, const QString &tip) {
        button->setAccessibleName(name);
        button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, button->shortcutKeys().join(QStringLiteral(", "))));
    };
    const QString multiplier = QStringLiteral("Multiplier \u00d7") + imgDouble->Tag();
    describe(imgDouble, multiplier, multiplier);
    imgMute->setChecked(!soundOn());
    const QString mute = soundOn() ? QStringLiteral("Mute") : QStringLiteral("Unmute");
    describe(imgMute, mute, mute);
    describe(imgOptions, QStringLiteral("Options"), QStringLiteral("Options"));
    describe(imgAbout, QStringLiteral("About"), QStringLiteral("About ..."));
    describe(imgExit, QStringLiteral("Exit"), QStringLiteral("Exit"));
}

// The lamp row is one element to assistive technology; its description changes at most
// once a beat, and only when it says something new.
void frmMain::describeLampRow(const QString &description)
{
    if (Picture1->accessibleDescription() != description)
        Picture1->setAccessibleDescription(description);
}
