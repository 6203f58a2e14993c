// SPDX-License-Identifier: GPL-3.0-or-later
// What the user sees and hears, taken from outside the program: records the sound (the
// monitor of an audio server's sink, or a JACK output port), reads one lamp's pixels off
// the X server every half millisecond, and presses keys through the XTest extension (as
// xdotool does), dating all three on CLOCK_MONOTONIC. bench/answer-bench finds the clicks
// in the recording and pairs them with the lamp's changes and the keys. Plain C++ with
// Xlib and XTest, libpulse-simple and libjack.
//
// Usage: answer_probe WINDOW SECONDS SOURCE STEPS OUTDIR
//   WINDOW   the program's X window (its id, as xdotool prints it), or "map": no lamp is
//            watched; the first window the window manager maps after the start is dated
//   SECONDS  how long to record and watch
//   SOURCE   pulse:DEVICE:RATE (a PulseAudio source, e.g. nullsink.monitor) or jack:PORT
//   STEPS    a file of lines "AT KIND KEYS...": AT seconds after the start, the keys are
//            pressed one after another (xdotool's names: space, Return, alt+o); AT/L: L ms
//            after the lamp next lights from AT on; KIND is a label copied to the output
//   OUTDIR   receives rec.wav (mono, 16 bit) and events.txt:
//     rate R
//     dating SAMPLE T_MS    sample SAMPLE of rec.wav reached the recorder's side at T_MS
//                           (later samples follow at the rate until the next such line)
//     heard_after_ms D      what the server adds until a recorded sample is heard (JACK's
//                           playback latency of the port; 0 for a sink's monitor)
//     lamp_pixel X Y        the pixel watched, found as the one that changes most often
//     lamp T_MS LEVEL GAP   the pixel changed to LEVEL (R+G+B) at T_MS, seen by a reading
//                           GAP ms after the one before (the dating is good to GAP / 2)
//     key T_BEFORE_MS T_AFTER_MS KIND KEYS   the (last) key was sent and taken in
//     poll_max_ms P         the longest gap between two readings of the pixel
//     mapped T_MS           ("map") the first window was mapped at T_MS
// All times are CLOCK_MONOTONIC in milliseconds.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <jack/jack.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void sleepUntilMs(double ms)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1e3);
    ts.tv_nsec = static_cast<long>((ms - static_cast<double>(ts.tv_sec) * 1e3) * 1e6);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

struct Dating {
    std::size_t sample;
    double ms;
};

struct Recording {
    unsigned rate = 0;
    std::vector<std::int16_t> samples;
    std::vector<Dating> datings;
    double heardAfterMs = 0;
};

// ---- Sound from a PulseAudio source ----------------------------------------------------

// Reads the source 5 ms at a time. Each read's last sample existed no later than the
// moment the read returned; the earliest such bound over the whole recording dates
// sample 0 (the recorder's own delay shows as how far the others lie above it).
bool recordPulse(const std::string &device, unsigned rate, double untilMs, Recording &rec, double &lagMs)
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    // The server's fragments: 5 ms unless ANSWER_PROBE_FRAGMENT_MS says otherwise. A
    // recorder's fragment size is a latency the sink it monitors is asked for.
    const char *fragmentMs = std::getenv("ANSWER_PROBE_FRAGMENT_MS");
    const unsigned fragment = fragmentMs ? static_cast<unsigned>(std::clamp(std::atoi(fragmentMs), 1, 200)) : 5;
    attr.fragsize = rate * fragment / 1000 * 4;
    int error = 0;
    pa_simple *s = pa_simple_new(nullptr, "answer-probe", PA_STREAM_RECORD, device.c_str(), "probe", &format, nullptr,
                                 &attr, &error);
    if (!s) {
        std::fprintf(stderr, "answer_probe: no recording from %s: %s\n", device.c_str(), pa_strerror(error));
        return false;
    }
    rec.rate = rate;
    std::vector<std::int16_t> frame(rate / 200 * 2);
    std::vector<double> bounds; // per read: its time less the duration of all samples so far
    while (nowMs() < untilMs) {
        if (pa_simple_read(s, frame.data(), frame.size() * sizeof(std::int16_t), &error) < 0)
            break;
        const double at = nowMs();
        for (std::size_t i = 0; i + 1 < frame.size(); i += 2) {
            const int a = frame[i], b = frame[i + 1];
            rec.samples.push_back(static_cast<std::int16_t>(std::abs(a) >= std::abs(b) ? a : b));
        }
        bounds.push_back(at - static_cast<double>(rec.samples.size()) * 1e3 / rate);
    }
    pa_simple_free(s);
    if (bounds.empty())
        return false;
    const double t0 = *std::min_element(bounds.begin(), bounds.end());
    rec.datings.push_back({0, t0});
    std::nth_element(bounds.begin(), bounds.begin() + static_cast<long>(bounds.size() / 2), bounds.end());
    lagMs = bounds[bounds.size() / 2] - t0;
    return true;
}

// ---- Sound from a JACK port ------------------------------------------------------------

// The process callback copies into buffers sized beforehand and dates each cycle by the
// server's frame clock, so a cycle this client is late for keeps its true time.
struct JackTap {
    jack_client_t *client = nullptr;
    jack_port_t *in = nullptr;
    std::vector<float> samples;
    std::vector<std::pair<std::size_t, std::uint64_t>> cycles; // first sample, server µs
    std::atomic<std::size_t> used{0}, cycleCount{0};

    int process(jack_nframes_t n)
    {
        jack_nframes_t frames = 0;
        jack_time_t usecs = 0, next = 0;
        float period = 0;
        const std::size_t at = used.load(std::memory_order_relaxed);
        if (at + n > samples.size() || cycleCount.load(std::memory_order_relaxed) >= cycles.size())
            return 0;
        if (jack_get_cycle_times(client, &frames, &usecs, &next, &period) != 0)
            return 0;
        const auto *buffer = static_cast<const float *>(jack_port_get_buffer(in, n));
        std::copy(buffer, buffer + n, samples.begin() + static_cast<long>(at));
        cycles[cycleCount.load(std::memory_order_relaxed)] = {at, usecs};
        cycleCount.fetch_add(1, std::memory_order_release);
        used.store(at + n, std::memory_order_release);
        return 0;
    }
};

// JACK's clock against CLOCK_MONOTONIC: the offset read with the least delay.
double jackOffsetMs()
{
    double best = 1e300, offset = 0;
    for (int i = 0; i < 50; ++i) {
        const double before = nowMs();
        const double jack = static_cast<double>(jack_get_time()) / 1e3;
        const double after = nowMs();
        if (after - before < best) {
            best = after - before;
            offset = (before + after) / 2 - jack;
        }
    }
    return offset;
}

bool recordJack(const std::string &port, double untilMs, Recording &rec, double &lagMs)
{
    JackTap tap;
    tap.client = jack_client_open("answer-probe", JackNoStartServer, nullptr);
    if (!tap.client) {
        std::fprintf(stderr, "answer_probe: no JACK server\n");
        return false;
    }
    rec.rate = jack_get_sample_rate(tap.client);
    const double seconds = (untilMs - nowMs()) / 1e3 + 1;
    tap.samples.assign(static_cast<std::size_t>(seconds * rec.rate) + 8192, 0.f);
    tap.cycles.resize(tap.samples.size() / 16 + 1);
    tap.in = jack_port_register(tap.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(
        tap.client, [](jack_nframes_t n, void *p) { return static_cast<JackTap *>(p)->process(n); }, &tap);
    // The port may come later, with the program: it is looked for every millisecond.
    bool connected = false;
    if (tap.in && jack_activate(tap.client) == 0)
        while (!(connected = jack_connect(tap.client, port.c_str(), jack_port_name(tap.in)) == 0) && nowMs() < untilMs)
            sleepUntilMs(nowMs() + 1);
    if (!connected) {
        std::fprintf(stderr, "answer_probe: cannot read %s\n", port.c_str());
        jack_client_close(tap.client);
        return false;
    }
    jack_latency_range_t range{};
    if (jack_port_t *source = jack_port_by_name(tap.client, port.c_str()))
        jack_port_get_latency_range(source, JackPlaybackLatency, &range);
    rec.heardAfterMs = static_cast<double>(range.max) * 1e3 / rec.rate;
    const double offsetBefore = jackOffsetMs();
    sleepUntilMs(untilMs);
    const double offsetAfter = jackOffsetMs();
    jack_deactivate(tap.client);
    const std::size_t used = tap.used.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < used; ++i)
        rec.samples.push_back(static_cast<std::int16_t>(std::lround(std::clamp(tap.samples[i], -1.f, 1.f) * 32767)));
    for (std::size_t i = 0; i < tap.cycleCount.load(std::memory_order_acquire); ++i)
        rec.datings.push_back({tap.cycles[i].first, static_cast<double>(tap.cycles[i].second) / 1e3 + offsetBefore});
    lagMs = offsetAfter - offsetBefore; // how far JACK's clock moved against the monotonic one
    jack_client_close(tap.client);
    return true;
}

// ---- The lamp's pixels -----------------------------------------------------------------

unsigned long pixelLevel(XImage *image, int x, int y)
{
    const unsigned long p = XGetPixel(image, x, y);
    return ((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff);
}

// The pixel of the window that changes most often over a second and a half of beating:
// on a steady beat only the lamps change.
bool findLamp(Display *display, Window window, int &lampX, int &lampY)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    const int w = attributes.width, h = attributes.height;
    std::vector<unsigned long> last(static_cast<std::size_t>(w * h), 0);
    std::vector<int> changes(last.size(), 0);
    const double start = nowMs();
    for (int pass = 0; nowMs() < start + 1500; ++pass) {
        XImage *image =
            XGetImage(display, window, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
        if (!image)
            return false;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned long level = pixelLevel(image, x, y);
                const auto i = static_cast<std::size_t>(y * w + x);
                changes[i] += pass > 0 && level != last[i];
                last[i] = level;
            }
        XDestroyImage(image);
        sleepUntilMs(start + (pass + 1) * 10.0);
    }
    const auto best = std::max_element(changes.begin(), changes.end());
    if (*best == 0)
        return false;
    lampX = static_cast<int>((best - changes.begin()) % w);
    lampY = static_cast<int>((best - changes.begin()) / w);
    return true;
}

struct LampChange {
    double ms; // halfway between the reading before the change and the one that saw it
    unsigned long level;
    double gapMs; // between those two readings: the dating is good to half of it
};

struct LampWatch {
    int x = -1, y = -1;
    std::vector<LampChange> changes;
    double pollMaxMs = 0;
    std::atomic<double> lastLit{0}; // when the lamp last lit (its level rose), for the keys
    double mappedMs = 0;
};

// The first window mapped on the screen from now on: the program's frame, which the
// window manager maps once the program has mapped its window.
void watchMap(double untilMs, LampWatch &watch)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    for (XEvent event{}; watch.mappedMs == 0 && nowMs() < untilMs;) {
        if (!XPending(display)) {
            sleepUntilMs(nowMs() + 0.25);
            continue;
        }
        XNextEvent(display, &event);
        if (event.type == MapNotify)
            watch.mappedMs = nowMs();
    }
    XCloseDisplay(display);
}

void watchLamp(Window window, double untilMs, LampWatch &watch)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return;
    if (findLamp(display, window, watch.x, watch.y)) {
        unsigned long last = 0;
        double previous = 0; // the last reading's time, halfway through its round trip
        for (double next = nowMs(); previous < untilMs; next += 0.5) {
            sleepUntilMs(next);
            const double before = nowMs();
            XImage *image = XGetImage(display, window, watch.x, watch.y, 1, 1, AllPlanes, ZPixmap);
            const double after = nowMs();
            if (!image)
                break;
            const unsigned long level = pixelLevel(image, 0, 0);
            XDestroyImage(image);
            const double at = (before + after) / 2;
            if (previous > 0 && level != last)
                watch.changes.push_back({(previous + at) / 2, level, at - previous});
            if (previous > 0 && level > last)
                watch.lastLit.store((previous + at) / 2);
            if (previous > 0)
                watch.pollMaxMs = std::max(watch.pollMaxMs, at - previous);
            last = level;
            previous = at;
            next = std::max(next, before - 0.5);
        }
    }
    XCloseDisplay(display);
}

// ---- Keys ------------------------------------------------------------------------------

struct Step {
    double at;
    double afterLitMs = -1; // when not negative: sent that long after the lamp next lights
    std::string kind;
    std::vector<std::string> keys;
    double before = 0, after = 0;
};

std::vector<Step> readSteps(const char *path)
{
    std::vector<Step> steps;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Step step;
        std::string at;
        if (!(words >> at >> step.kind))
            continue;
        step.at = std::atof(at.c_str());
        if (const std::size_t slash = at.find('/'); slash != std::string::npos)
            step.afterLitMs = std::atof(at.c_str() + slash + 1);
        for (std::string key; words >> key;)
            step.keys.push_back(key);
        steps.push_back(step);
    }
    return steps;
}

// xdotool's key names: "alt+o" is Alt held while o is pressed.
KeyCode keyCode(Display *display, const std::string &name)
{
    static const std::pair<const char *, const char *> kModifiers[] = {
        {"alt", "Alt_L"}, {"ctrl", "Control_L"}, {"shift", "Shift_L"}, {"super", "Super_L"}};
    std::string keysym = name;
    for (const auto &[alias, real] : kModifiers)
        if (name == alias)
            keysym = real;
    return XKeysymToKeycode(display, XStringToKeysym(keysym.c_str()));
}

// Presses each chord of the step through the XTest extension, as xdotool does. The press
// is dated just before it is sent and once the server has taken it in (XSync returns
// after the server has handled every request before it).
void press(Display *display, Step &step)
{
    for (const std::string &chord : step.keys) {
        std::vector<KeyCode> codes;
        std::istringstream parts(chord);
        for (std::string part; std::getline(parts, part, '+');)
            codes.push_back(keyCode(display, part));
        for (std::size_t i = 0; i + 1 < codes.size(); ++i)
            XTestFakeKeyEvent(display, codes[i], True, CurrentTime);
        XSync(display, False);
        step.before = nowMs();
        XTestFakeKeyEvent(display, codes.back(), True, CurrentTime);
        XSync(display, False);
        step.after = nowMs();
        for (auto code = codes.rbegin(); code != codes.rend(); ++code)
            XTestFakeKeyEvent(display, *code, False, CurrentTime);
        XSync(display, False);
    }
}

// ---- Output ----------------------------------------------------------------------------

void put32(std::ofstream &out, std::uint32_t v) { out.write(reinterpret_cast<const char *>(&v), 4); }
void put16(std::ofstream &out, std::uint16_t v) { out.write(reinterpret_cast<const char *>(&v), 2); }

void writeWav(const std::string &path, const Recording &rec)
{
    std::ofstream out(path, std::ios::binary);
    const auto bytes = static_cast<std::uint32_t>(rec.samples.size() * 2);
    out.write("RIFF", 4);
    put32(out, 36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, rec.rate);
    put32(out, rec.rate * 2);
    put16(out, 2);
    put16(out, 16);
    out.write("data", 4);
    put32(out, bytes);
    out.write(reinterpret_cast<const char *>(rec.samples.data()), bytes);
}

void writeEvents(const std::string &path, const Recording &rec, double lagMs, const LampWatch &watch,
                 const std::vector<Step> &steps)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        return;
    std::fprintf(f, "rate %u\nheard_after_ms %.3f\nrecorder_lag_ms %.3f\n", rec.rate, rec.heardAfterMs, lagMs);
    for (const Dating &d : rec.datings)
        std::fprintf(f, "dating %zu %.3f\n", d.sample, d.ms);
    std::fprintf(f, "lamp_pixel %d %d\npoll_max_ms %.3f\n", watch.x, watch.y, watch.pollMaxMs);
    if (watch.mappedMs > 0)
        std::fprintf(f, "mapped %.3f\n", watch.mappedMs);
    for (const LampChange &c : watch.changes)
        std::fprintf(f, "lamp %.3f %lu %.3f\n", c.ms, c.level, c.gapMs);
    for (const Step &s : steps) {
        std::fprintf(f, "key %.3f %.3f %s", s.before, s.after, s.kind.c_str());
        for (const std::string &k : s.keys)
            std::fprintf(f, " %s", k.c_str());
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: answer_probe WINDOW SECONDS SOURCE STEPS OUTDIR\n");
        return 2;
    }
    const bool mapMode = std::strcmp(argv[1], "map") == 0;
    const auto window = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
    const double untilMs = nowMs() + std::atof(argv[2]) * 1e3;
    const std::string source = argv[3];
    std::vector<Step> steps = readSteps(argv[4]);
    const std::string outdir = argv[5];
    // Ahead of the program and of any busy loops where the system allows it, so that the
    // readings keep their half millisecond; the threads below inherit it.
    sched_param priority{};
    priority.sched_priority = 10;
    sched_setscheduler(0, SCHED_FIFO, &priority);

    Recording rec;
    double lagMs = 0;
    bool recorded = false;
    std::thread recorder([&] {
        if (source.rfind("jack:", 0) == 0) {
            recorded = recordJack(source.substr(5), untilMs, rec, lagMs);
        } else if (source.rfind("pulse:", 0) == 0) {
            const std::size_t colon = source.rfind(':');
            recorded = recordPulse(source.substr(6, colon - 6),
                                   static_cast<unsigned>(std::atoi(source.c_str() + colon + 1)), untilMs, rec, lagMs);
        }
    });
    LampWatch watch;
    std::thread watcher([&] { mapMode ? watchMap(untilMs, watch) : watchLamp(window, untilMs, watch); });
    Display *keyboard = XOpenDisplay(nullptr);
    const double start = nowMs();
    for (Step &step : steps) {
        sleepUntilMs(start + step.at * 1e3);
        for (double lit = watch.lastLit.load(); step.afterLitMs >= 0 && nowMs() < untilMs;) {
            sleepUntilMs(nowMs() + 0.5);
            if (watch.lastLit.load() != lit) {
                sleepUntilMs(watch.lastLit.load() + step.afterLitMs);
                break;
            }
        }
        if (keyboard)
            press(keyboard, step);
    }
    recorder.join();
    watcher.join();
    if (keyboard)
        XCloseDisplay(keyboard);
    if (!recorded)
        return 1;
    writeWav(outdir + "/rec.wav", rec);
    writeEvents(outdir + "/events.txt", rec, lagMs, watch, steps);
    return (mapMode ? watch.mappedMs == 0 : watch.x < 0) ? 1 : 0;
}
