// An audio back end: a connection to an audio server that pulls rendered frames from
// a FrameSource on its own audio thread and tells it when each frame is heard.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// What a back end plays. Every call comes on the back end's audio thread, one at a time.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // A new stream at `sampleRate` frames per second, about `latencyUs` from rendering a
    // frame to hearing it: its frame 0 is the next one rendered. Called before the
    // first render and again after every reconnection.
    virtual void streamStarted(double sampleRate, std::int64_t latencyUs) = 0;
    // The server's report: frame `frame` of the stream is heard at monotonic time `nowUs`.
    virtual void heard(std::int64_t nowUs, double frame) = 0;
    // The next `frames` frames of the stream, one channel each, at monotonic time `nowUs`.
    virtual void render(std::int64_t nowUs, int frames, float *left, float *right) = 0;
    // The stream is gone (the server went away); nothing may sound on when it returns.
    virtual void streamLost() = 0;
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
};

// The desktop's audio server through PulseAudio's client library (PipeWire included).
std::unique_ptr<AudioBackend> createPulseAudioBackend();

} // namespace platform
