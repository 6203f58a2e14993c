// SPDX-License-Identifier: GPL-3.0-or-later
// An audio back end: a connection to an audio server that pulls rendered frames from
// a FrameSource on its own audio thread, and owns the stream's frame line, which says
// when each frame is heard.
#pragma once

#include "platform/Clock.h"
#include "sound/MidiOut.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

namespace pulsewerk {

class FrameLine;
class Transport;

// Where a back end with a MIDI port takes the messages of the buffer being rendered.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // `message` (packed as for MidiOutDevice) takes effect on frame `frame` of the buffer;
    // from FrameSource::amend(), `frame` frames before the end of the last one (negative).
    virtual void message(int frame, std::uint32_t message) = 0;
    // The same for the beat clock's messages (system real-time, and Song Position
    // Pointer), where the back end has a port for them.
    virtual void clock(int frame, std::uint32_t message) { (void)frame, (void)message; }
};

// What a back end plays. Every call comes from the back end's threads, one at a time;
// render() and sendMessagesTo() on its audio thread, where nothing may allocate, lock
// or wait.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // A new stream at `sampleRate` frames per second, up to `latencyUs` from rendering a
    // frame to hearing it, its frames placed by `line` (the back end's, started before
    // the first render): its frame 0 is the next one rendered. Called before the first
    // render, and again after every reconnection; outside the audio callback unless the
    // rate is the same as before.
    virtual void streamStarted(double sampleRate, std::int64_t latencyUs, const FrameLine &line) = 0;
    // The next `frames` frames of the stream, one channel each. Both null: the back end
    // has no audio ports, and only the messages are wanted.
    virtual void render(int frames, float *left, float *right) = 0;
    // The server played the next `frames` frames without this stream (it missed its
    // cycles): nothing is rendered for them, and what was due in them takes effect on the
    // next frame rendered, but for note-ons: a click that late would be off the beat.
    virtual void skip(int frames) { render(frames, nullptr, nullptr); }
    // The audio thread, between renders, for a back end that can still change the last
    // `frames` frames rendered, as `left` and `right` hold them: the messages sent since
    // that are due on them are added there, those due sooner on the first of them.
    // Returns how many frames into them the first change is; `frames` when none is.
    virtual int amend(int frames, float *left, float *right)
    {
        (void)left, (void)right;
        return frames;
    }
    // The audio thread: the back end calls amend() whenever a message was sent, and can
    // change a frame until `reachUs` before it is heard (its server's own latency).
    // Returns the time before hearing that the source counts on, which the back end keeps
    // to: the source's delay is set once and stays.
    virtual std::int64_t amendsUpTo(std::int64_t reachUs) { return reachUs; }
    // From now on render() also passes each message to `sink` (null: to none) on its frame.
    virtual void sendMessagesTo(MessageSink *sink) = 0;
    // The stream is gone (the server went away); nothing may sound on when it returns.
    virtual void streamLost() = 0;
    // The audio thread: nothing sounds, and nothing will before the next wake(): the
    // beat stands and every note has died away. A back end may pause its stream
    // meanwhile, and let it play on at the next wake().
    virtual bool resting() { return false; }
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // Connects and starts playing `source`, waiting a moment for the server's answer.
    // False when no server answered; the back end then keeps trying on its own, and
    // so it does after losing the server, saying on standard error when the sound is
    // lost and when it is back.
    virtual bool start(FrameSource &source) = 0;
    // Disconnects; no call reaches the source afterwards.
    virtual void stop() = 0;
    // Any thread: how much later than the frame line says a frame is heard, by the latency
    // of what the stream feeds beyond the server's own cycle (the ports a JACK client's
    // ports are connected to).
    virtual std::int64_t heardLaterUs() const { return 0; }
    // How late after its intended time a message may reach the back end and still be
    // heard at it.
    virtual std::uint32_t lateRoomMs() const { return kLateRoomMs; }
    // The audio thread: the back end still measures how its server takes the frames, and
    // may yet say it reaches further (FrameSource::amendsUpTo); the delay waits for that.
    virtual bool measuring() const { return false; }
    // Any thread: a message was sent; a back end that amends wakes its audio thread.
    virtual void wake() {}
    // The transport it shares with other programs; null when none.
    virtual Transport *transport() { return nullptr; }
};

// The desktop's audio server through PulseAudio's client library (PipeWire included).
std::unique_ptr<AudioBackend> createPulseAudioBackend();
// Which server answers for PulseAudio: none, PulseAudio itself, or PipeWire's service.
enum class DesktopServer { None, PulseAudio, PipeWire };
DesktopServer desktopServer();
// The desktop's audio server: PipeWire's own stream where PipeWire serves the desktop's
// audio (or answers alone), else PulseAudio's.
std::unique_ptr<AudioBackend> createDesktopBackend();
// The desktop stream's whole latency, buffer and server together: about how long after
// writing a frame the server plays it. A note sent need not wait for all of it (the
// back end writes it over the frames ahead); shorter streams run dry on an idle machine
// (30 ms did) and wake the audio thread more often.
constexpr std::int64_t kDesktopStreamLatencyUs = 60000;
// How long after its intended time a note is heard, beyond the stream's own latency:
// room for a late sender and a busy machine (three busy loops on two cores hold the
// beat loop back by a few milliseconds now and then).
constexpr std::int64_t kDelayMarginUs = 15000;

// Makes the back end for the desktop's audio server.
using DesktopBackendFactory = std::function<std::unique_ptr<AudioBackend>()>;
// The embedded synthesizer as createSynthOut makes it, with `desktop` making its back
// end for the desktop's server (the benchmarks compare another with the program's), and
// the messages' times read on `clock`.
std::unique_ptr<MidiOutDevice> createSynthOut(const SoundConfig &config, DesktopBackendFactory desktop,
                                              Clock &clock = systemClock());

// A JACK client named Pulsewerk: with `config.audioPorts`, out_left and out_right beside
// the MIDI ports beat and clock, connected as `config` says when `config.connectPorts`. Unlike the PulseAudio back end,
// its start() fails for good when no JACK server is running, so that the caller can turn to the desktop's server; a
// server lost later is waited for, and the client comes back with it.
std::unique_ptr<AudioBackend> createJackBackend(const SoundConfig &config);

// For tests: the synthesizer plays through the back ends this makes (a made-up server)
// instead of an audio server's; an empty one restores the servers.
using AudioBackendFactory = std::function<std::unique_ptr<AudioBackend>()>;
void setAudioBackendFactory(AudioBackendFactory factory);

} // namespace pulsewerk
