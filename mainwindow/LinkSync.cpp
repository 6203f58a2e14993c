// SPDX-License-Identifier: GPL-3.0-or-later
// The main window in an Ableton Link session: the context menu's check item, tempo both
// ways, start and stop both ways, and the number of peers.
#include "mainwindow/frmMain.h"

#include "platform/Say.h"
#include "settings/SettingsTable.h"
#include "sync/LinkSession.h"

#include <QAction>
#include <QMenu>

#include <cmath>

namespace {

QString linkText(int peers)
{
    if (peers <= 0)
        return frmMain::tr("Ableton Link");
    return peers == 1 ? frmMain::tr("Ableton Link: 1 peer") : frmMain::tr("Ableton Link: %1 peers").arg(peers);
}

} // namespace

void frmMain::setUpLink()
{
    actLink = new QAction(linkText(0), this);
    actLink->setCheckable(true);
    connect(actLink, &QAction::triggered, this, &frmMain::Link_Triggered);
    mnuContext->addSeparator();
    mnuContext->addAction(actLink);
}

// The menu's choice is kept for the next start.
void frmMain::Link_Triggered(bool checked)
{
    setLinkOn(checked);
    const pulsewerk::IntSetting &row = pulsewerk::settings::linkOn;
    pulsewerk::writeSettings(row.group, {row.with(checked ? 1 : 0)},
                             pulsewerk::sayNotSaved(QStringLiteral("Ableton Link setting")));
}

void frmMain::setLinkOn(bool on)
{
    actLink->setChecked(on);
    if (on == static_cast<bool>(m_link))
        return;
    if (!on) {
        m_link.reset();
        LinkPeers_Changed(0);
        setAccessibleDescription(QString());
        return;
    }
    m_link = std::make_unique<pulsewerk::LinkSession>(m_intBpm);
    connect(m_link.get(), &pulsewerk::LinkSession::tempoChanged, this, &frmMain::LinkTempo_Changed);
    connect(m_link.get(), &pulsewerk::LinkSession::peersChanged, this, &frmMain::LinkPeers_Changed);
    connect(m_link.get(), &pulsewerk::LinkSession::playingChanged, this, &frmMain::LinkPlaying_Changed);
    // The local start/stop state goes with it into the session, as Link intends.
    m_link->setPlaying(m_running, barLength());
    LinkPeers_Changed(m_link->peers());
}

// The session's tempo, shown on the slider and in the box as a whole tempo within the
// slider's range. It is not sent back: a session at 120.4 or 250 stays at it.
void frmMain::LinkTempo_Changed(double bpm)
{
    if (!m_link || !std::isfinite(bpm))
        return;
    const long long rounded = std::llround(bpm);
    const long long tempo = std::clamp<long long>(rounded, Slider1->minimum(), Slider1->maximum());
    if (tempo != rounded && !m_linkClampSaid)
        pulsewerk::say(qPrintable(QStringLiteral("the Link session's tempo %1 is beyond %2 to %3; beating at %4")
                                      .arg(bpm, 0, 'f', 1)
                                      .arg(Slider1->minimum())
                                      .arg(Slider1->maximum())
                                      .arg(tempo)));
    m_linkClampSaid = tempo != rounded;
    if (tempo == m_intBpm)
        return; // the box is left as it is, a tempo being typed in it too
    m_tempoFromSession = true;
    setSliderPosition(tempo);
    m_tempoFromSession = false;
}

// The menu item and the window's description (which a screen reader is told of) say
// how many other programs share the beat.
void frmMain::LinkPeers_Changed(int peers)
{
    actLink->setText(linkText(m_link ? peers : 0));
    if (m_link)
        setAccessibleDescription(actLink->text());
}

// A peer's start or stop is Pulsewerk's too, as if Space were pressed here.
void frmMain::LinkPlaying_Changed(bool playing)
{
    if (!m_link || playing == m_running)
        return;
    m_playingFromSession = true;
    StartStop_Triggered();
    m_playingFromSession = false;
}

void frmMain::placeNextBeat(long long position)
{
    const long long length = m_strPattern.size();
    if (length > 0)
        m_intBeat = static_cast<std::int16_t>(((position - 1) % length + length) % length);
}
