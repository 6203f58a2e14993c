// SPDX-License-Identifier: GPL-3.0-or-later
// Shared test support.
#include "TestSupport.h"

#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "settings/Settings.h"

#include <QFile>
#include <QSettings>

TempSettings::TempSettings()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

TempSettings::~TempSettings() { waitForSaves(); }

bool TempSettings::waitForSaves()
{
    return pulsewerk::waitForSettingsSaves(std::chrono::steady_clock::now() + std::chrono::seconds(30));
}

QString TempSettings::fileName() const { return m_dir.path() + QStringLiteral("/Pulsewerk/Pulsewerk.conf"); }

void TempSettings::clear() const
{
    waitForSaves();
    QFile::remove(fileName());
}

void TempSettings::store(const QString &key, const QString &value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Pulsewerk"),
                       QStringLiteral("Pulsewerk"));
    settings.setValue(QStringLiteral("Options/") + key, value);
    settings.sync();
}

RecordingContext::RecordingContext(pulsewerk::RecordingMidiOut::Log &log, pulsewerk::Clock &clock)
    : context{&clock, [&log, &clock] { return std::make_unique<pulsewerk::RecordingMidiOut>(log, clock); },
              [this] { ++ends; }},
      m_inUse(context)
{}

BeatHarness::BeatHarness(std::uint32_t clockStart) : clock(clockStart), m_start(clockStart)
{
    mdlMain::g_blnQuit = false;
    m_window = new frmMain;
    mdlMain::g_frmMain = m_window;
    m_window->show();
}

BeatHarness::~BeatHarness()
{
    mdlMidi::CloseMidiOut();
    mdlMain::g_frmMain = nullptr;
    mdlMain::g_blnQuit = false;
    delete m_window;
}

int BeatHarness::runLoop()
{
    const int before = program.ends;
    mdlMain::RunBeatLoop();
    return program.ends - before;
}

void BeatHarness::openOutput() { mdlMidi::OpenMidiOut(); }

std::vector<pulsewerk::RecordedMessage> BeatHarness::messages() const
{
    std::vector<pulsewerk::RecordedMessage> relative = midi.messages;
    for (auto &each : relative) {
        each.timeMs -= m_start;
        each.atMs -= m_start;
    }
    return relative;
}

std::uint32_t NoteOn(int channel0, int note, int velocity)
{
    return mdlMidi::packNoteOn(static_cast<std::int16_t>(channel0), static_cast<std::int16_t>(note),
                               static_cast<std::int16_t>(velocity));
}
