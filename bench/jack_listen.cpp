// SPDX-License-Identifier: GPL-3.0-or-later
// Listens to Pulsewerk's JACK ports for a while and prints one line of figures: how
// many note-ons came, how many were exactly the expected number of frames after the
// one before, the largest error, and how many frames after its note-on each click
// starts on the audio port. Frames are the server's own (jack_last_frame_time), so a
// cycle this client misses does not shift them. Plain C++ with libjack, no Qt.
//
// Usage: jack_listen SECONDS INTERVAL_FRAMES
#include <jack/jack.h>
#include <jack/midiport.h>

#include "ClickDetector.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The beats of the first bar may come before the start options took effect.
constexpr std::size_t kSkipNotes = 4;

struct Listener {
    jack_client_t *client = nullptr;
    jack_port_t *midi = nullptr;
    jack_port_t *audio = nullptr;
    std::mutex mutex;
    std::vector<std::int64_t> noteOns, onsets;
    pulsewerk::ClickDetector clicks{48000};
    std::atomic<int> xruns{0};

    int process(jack_nframes_t frames)
    {
        const auto start = static_cast<std::int64_t>(jack_last_frame_time(client));
        void *events = jack_port_get_buffer(midi, frames);
        const auto *samples = static_cast<const float *>(jack_port_get_buffer(audio, frames));
        std::lock_guard<std::mutex> lock(mutex);
        for (std::uint32_t i = 0, n = jack_midi_get_event_count(events); i < n; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, events, i) == 0 && e.size == 3 && (e.buffer[0] & 0xF0) == 0x90 &&
                e.buffer[2] > 0)
                noteOns.push_back(start + e.time);
        }
        clicks.read(samples, frames, start, onsets);
        return 0;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: jack_listen SECONDS INTERVAL_FRAMES\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const std::int64_t interval = std::atoll(argv[2]);
    Listener l;
    l.client = jack_client_open("pulsewerk-listen", JackNoStartServer, nullptr);
    if (!l.client) {
        std::fprintf(stderr, "jack_listen: no JACK server\n");
        return 1;
    }
    l.clicks = pulsewerk::ClickDetector(jack_get_sample_rate(l.client));
    l.midi = jack_port_register(l.client, "beat", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    l.audio = jack_port_register(l.client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(
        l.client, [](jack_nframes_t n, void *p) { return static_cast<Listener *>(p)->process(n); }, &l);
    jack_set_xrun_callback(
        l.client, [](void *p) { return ++static_cast<Listener *>(p)->xruns, 0; }, &l);
    if (!l.midi || !l.audio || jack_activate(l.client) != 0)
        return 1;
    bool connected = false;
    for (int i = 0; i < 300 && !connected; ++i) {
        connected = jack_connect(l.client, "Pulsewerk:beat", jack_port_name(l.midi)) == 0;
        if (!connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!connected) {
        std::fprintf(stderr, "jack_listen: no port Pulsewerk:beat\n");
        return 1;
    }
    jack_connect(l.client, "Pulsewerk:out_left", jack_port_name(l.audio));
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    jack_deactivate(l.client);

    const std::vector<std::int64_t> &notes = l.noteOns;
    std::size_t exact = 0, intervals = 0;
    std::int64_t worst = 0, delayMin = -1, delayMax = -1;
    for (std::size_t i = kSkipNotes; i < notes.size(); ++i) {
        if (i > kSkipNotes) {
            ++intervals;
            const std::int64_t error = notes[i] - notes[i - 1] - interval;
            exact += error == 0;
            worst = std::max(worst, std::abs(error));
        }
        const auto click = std::lower_bound(l.onsets.begin(), l.onsets.end(), notes[i]);
        if (click != l.onsets.end() && (i + 1 == notes.size() || *click < notes[i + 1])) {
            const std::int64_t delay = *click - notes[i];
            delayMin = delayMin < 0 ? delay : std::min(delayMin, delay);
            delayMax = std::max(delayMax, delay);
        }
    }
    std::printf("note_ons=%zu intervals_exact=%zu/%zu interval_err_max_frames=%lld click_delay_frames=%lld..%lld "
                "xruns=%d\n",
                notes.size() > kSkipNotes ? notes.size() - kSkipNotes : 0, exact, intervals,
                static_cast<long long>(worst), static_cast<long long>(delayMin), static_cast<long long>(delayMax),
                l.xruns.load());
    jack_client_close(l.client);
    return 0;
}
