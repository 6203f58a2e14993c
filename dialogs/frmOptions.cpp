// SPDX-License-Identifier: GPL-3.0-or-later
// The options dialog.
#include "dialogs/frmOptions.h"

#include "controls/DialogPlacement.h"
#include "engine/mdlMidi.h"
#include "controls/Numbers.h"
#include "settings/Settings.h"

#include <QShowEvent>

#include <algorithm>
#include <cstdio>

using pulsewerk::roundToInt16;
using pulsewerk::str;
using pulsewerk::val;

namespace {

std::int16_t roundedValue(const pulsewerk::TextBox *box) { return roundToInt16(val(box->text())); }

std::int16_t Clamp16(std::int16_t value, std::int16_t low, std::int16_t high) { return std::clamp(value, low, high); }

} // namespace

frmOptions::frmOptions(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    pulsewerk::showBanner(Picture1);
    setDefaultButton(nullptr); // Enter in a box sounds the note; it never closes the dialog

    txtChannel->KeyDown = [this](int &KeyCode, int Shift) { txtChannel_KeyDown(KeyCode, Shift); };
    txtChannel->KeyPress = [this](int &KeyAscii) { txtChannel_KeyPress(KeyAscii); };
    txtChannel->Validate = [this] { txtChannel_Validate(); };

    txtStrong->KeyDown = [this](int &KeyCode, int) {
        ValueKeyDown(txtStrong, m_intStrong, m_intStrong, m_intStrongVel, KeyCode, true);
    };
    txtStrongVelocity->KeyDown = [this](int &KeyCode, int) {
        ValueKeyDown(txtStrongVelocity, m_intStrongVel, m_intStrong, m_intStrongVel, KeyCode, false);
    };
    txtWeak->KeyDown = [this](int &KeyCode, int) {
        ValueKeyDown(txtWeak, m_intWeak, m_intWeak, m_intWeakVel, KeyCode, true);
    };
    txtWeakVelocity->KeyDown = [this](int &KeyCode, int) {
        ValueKeyDown(txtWeakVelocity, m_intWeakVel, m_intWeak, m_intWeakVel, KeyCode, false);
    };
    for (pulsewerk::TextBox *box : {txtStrong, txtStrongVelocity, txtWeak, txtWeakVelocity}) {
        box->KeyPress = [this](int &KeyAscii) { ValueKeyPress(KeyAscii); };
        box->Validate = [this, box] { valueValidate(box); };
    }

    connect(cmdOK, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
}

void frmOptions::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        Form_Load();
    pulsewerk::Dialog::showEvent(event);
}

// Values are shown as they are, even out of range: the next clamp brings them in.
void frmOptions::Form_Load()
{
    m_blnOK = false;
    txtChannel->setText(str(m_intChannel));
    txtWeak->setText(str(m_intWeak));
    txtStrong->setText(str(m_intStrong));
    txtWeakVelocity->setText(str(m_intWeakVel));
    txtStrongVelocity->setText(str(m_intStrongVel));
    pulsewerk::centreOnScreen(this);
    cmdOK->setFocus(Qt::OtherFocusReason);
}

// Every key rewrites the channel box from the field; the key then acts on that text.
void frmOptions::txtChannel_KeyDown(int &KeyCode, int /*Shift*/)
{
    if (KeyCode == pulsewerk::vbKeyUp)
        m_intChannel = pulsewerk::addSaturated16(m_intChannel, 1);
    else if (KeyCode == pulsewerk::vbKeyDown)
        m_intChannel = pulsewerk::addSaturated16(m_intChannel, -1);
    if (m_intChannel > 16)
        m_intChannel = 16;
    if (m_intChannel < 1)
        m_intChannel = 1;
    txtChannel->setText(str(m_intChannel));
}

void frmOptions::txtChannel_KeyPress(int &KeyAscii)
{
    const bool digit = KeyAscii >= '0' && KeyAscii <= '9';
    if (!digit && KeyAscii != '.' && KeyAscii != pulsewerk::vbKeyBack)
        KeyAscii = 0;
}

void frmOptions::txtChannel_Validate()
{
    m_intChannel = roundedValue(txtChannel);
    if (m_intChannel < 1)
        m_intChannel = 1;
    if (m_intChannel > 16)
        m_intChannel = 16;
    txtChannel->setText(str(m_intChannel));
}

void frmOptions::ValueKeyDown(pulsewerk::TextBox *box, std::int16_t &value, const std::int16_t &note,
                              const std::int16_t &velocity, int &keyCode, bool soundsOnArrows)
{
    value = roundedValue(box); // the text as it stands before this key acts
    bool sound = false;
    if (keyCode == pulsewerk::vbKeyUp) {
        value = pulsewerk::addSaturated16(value, 1);
        sound = soundsOnArrows;
        keyCode = 0;
    } else if (keyCode == pulsewerk::vbKeyDown) {
        value = pulsewerk::addSaturated16(value, -1);
        sound = soundsOnArrows;
        keyCode = 0;
    } else if (keyCode == pulsewerk::vbKeyReturn) {
        sound = true;
    } else {
        return;
    }
    value = Clamp16(value, 0, 127);
    box->setText(str(value));
    if (sound)
        audition(note, velocity);
}

void frmOptions::ValueKeyPress(int &keyAscii)
{
    const bool digit = keyAscii >= '0' && keyAscii <= '9';
    if (!digit && keyAscii != pulsewerk::vbKeyBack && keyAscii != '.' && keyAscii != pulsewerk::vbKeyReturn)
        keyAscii = 0;
}

// Only the text is corrected; the field keeps what the last key-down gave it.
void frmOptions::valueValidate(pulsewerk::TextBox *box)
{
    const double number = val(box->text());
    if (number > 127)
        box->setText(QStringLiteral("127"));
    else if (number < 0)
        box->setText(QStringLiteral("0"));
}

// The row's note, started and ended at once, from the fields; a field that a key-down
// filled from unchecked text is held within the MIDI range first.
void frmOptions::audition(const std::int16_t &note, const std::int16_t &velocity)
{
    const std::int16_t channel = static_cast<std::int16_t>(m_intChannel - 1);
    const std::int16_t playedNote = Clamp16(note, 0, 127);
    const std::int16_t playedVelocity = Clamp16(velocity, 0, 127);
    const std::int16_t release = 0;
    mdlMidi::PlayNote(channel, playedNote, playedVelocity);
    mdlMidi::PlayNote(channel, playedNote, release);
}

void frmOptions::cmdOK_Click()
{
    m_blnOK = true;
    m_intChannel = roundedValue(txtChannel);
    m_intWeak = roundedValue(txtWeak);
    m_intStrong = roundedValue(txtStrong);
    m_intWeakVel = roundedValue(txtWeakVelocity);
    m_intStrongVel = roundedValue(txtStrongVelocity);

    // One replacement of the file, off this thread; a failure is said when it is known.
    pulsewerk::WriteSettings(
        QStringLiteral("Pulsewerk"), QStringLiteral("Options"),
        {{QStringLiteral("Channel"), m_intChannel},
         {QStringLiteral("StrongNote"), m_intStrong},
         {QStringLiteral("StrongVel"), m_intStrongVel},
         {QStringLiteral("WeakNote"), m_intWeak},
         {QStringLiteral("WeakVel"), m_intWeakVel}},
        [] {
            std::fprintf(stderr, "Pulsewerk: the options could not be saved; they hold for this run only.\n");
            std::fflush(stderr);
        });
    accept();
}

void frmOptions::cmdCancel_Click() { reject(); }
