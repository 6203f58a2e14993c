// The MIDI output device: open, send one packed short message, close.
#pragma once

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

class MidiOutDevice {
public:
    virtual ~MidiOutDevice() = default;
    // Opens the device. Failure is silent to the caller; the device then drops every message.
    virtual void open() = 0;
    // One short message, least significant byte first: status, data 1, data 2, 0.
    virtual void sendShortMsg(std::uint32_t message) = 0;
    virtual void close() = 0;
};

using MidiOutFactory = std::function<std::unique_ptr<MidiOutDevice>()>;

// Makes the device that opening the default MIDI output gives: the embedded
// synthesizer unless a test or benchmark installed another factory.
std::unique_ptr<MidiOutDevice> createDefaultMidiOut();
// Installs the factory used by createDefaultMidiOut; an empty one restores the synthesizer.
void setMidiOutFactory(MidiOutFactory factory);
// The clock reading (platform::clock()) at which the messages sent from now on are
// meant to sound, for instance the grid point of a beat sent a little late; a device
// that schedules its output places them there. No value: they sound when sent.
void setIntendedTime(std::optional<std::uint32_t> clockMs);

// The SoundFonts the synthesizer tries, in order; empty restores the system's own list.
void setSoundFontPaths(const QStringList &paths);

} // namespace platform
