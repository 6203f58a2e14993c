// SPDX-License-Identifier: GPL-3.0-or-later
// The onset analyser: finds the clicks in a recording of the metronome and measures how
// evenly they come, interval by interval and against a straight beat grid.
//
// Usage: onsets [--threshold-db DB] FILE.wav [PERIOD_MS]
//   FILE.wav  16-bit PCM WAV, any sample rate, one or more channels (mixed by their loudest)
//   PERIOD_MS the beat period the clicks should keep; without it the mean interval is used
// Prints one line per click, then one summary line:
//   onset T_MS PEAK_DBFS
//   summary onsets=N mean_interval_ms=.. period_ms=.. interval_err_rms_us=.. interval_err_max_us=..
//           grid_period_ms=.. drift_ppm=.. grid_dev_rms_us=.. grid_dev_max_us=.. nominal_grid_dev_max_us=..
//           peak_dbfs=.. clipped_samples=N dropouts=N quiet_events=N
// Comment lines start with "#"; among them each dropout (the sound stopping dead and coming
// back: the stream ran dry), each sound's return after one, and each quiet event (a sound
// far below the clicks); none of these counts as a click.
// A figure that cannot be measured (too few clicks) prints as "na". Exit status 0 once the
// file has been read, 2 on a usage error or an unreadable file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

// Detection: a click starts where the envelope rises through the detection threshold
// (relative to the loudest sample of the recording), at least kRiseDb above the
// background just before it, no sooner than the refractory time after the last click,
// and only once the envelope has fallen below half the threshold since that click. The
// rise test keeps a dropout in a click's tail from counting as a new click.
constexpr double kDefaultThresholdDb = -24.0;
constexpr double kRearmRatio = 0.5;
// Nothing quieter than this is a click, whatever the recording's peak (noise, dither).
constexpr double kFloorDbfs = -60.0;
constexpr double kRefractoryMs = 50.0;
constexpr double kRiseDb = 10.0;
constexpr double kBackgroundFromMs = 25.0; // the background: the loudest sample between
constexpr double kBackgroundToMs = 5.0;    // these two times before the detection
// The envelope follows a rise at once and falls with this time constant, so the zero
// crossings of the click's own waveform do not break it up.
constexpr double kEnvelopeDecayMs = 5.0;
// A click's peak level is the loudest sample within this time after its detection.
constexpr double kPeakWindowMs = 30.0;
// The onset time is the first sample above the onset level (kOnsetLevelDb below the
// click's own peak, and twice the background) after the last stretch of kQuietMs below
// it, searched back from the detection over at most kLookBackMs.
constexpr double kOnsetLevelDb = -40.0;
constexpr double kQuietMs = 1.0;
constexpr double kLookBackMs = 5.0;
// A dropout: the sound stops dead (exact digital silence for at least kDropoutMinMs, right
// after a sample above kDropoutLevelDbfs) and comes back within kDropoutMaxMs. That is
// what a stream that ran dry leaves in a recording of the sink; a sound that fades out
// ends far below that level, and the next click comes much later.
constexpr double kDropoutMinMs = 1.0;
constexpr double kDropoutMaxMs = 100.0;
constexpr double kDropoutLevelDbfs = -70.0;
// A sound that starts far below the typical click (the median click peak) is not a click
// either (a tail coming back after a gap too short for a dropout, noise); such sounds are
// counted apart.
constexpr double kQuietEventDb = -12.0;

struct Recording {
    double rate = 0;
    int channels = 0;
    std::vector<double> level; // per frame: the largest magnitude of its channels, full scale 1.0
    long clipped = 0;
};

struct Dropout {
    double ms;
    double lengthMs;
    std::size_t end; // the frame where the sound comes back
};

struct Onset {
    double ms;
    double peak; // full scale 1.0
};

std::uint32_t le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8);
}

// Reads the RIFF chunks up to the data chunk. A recorder stopped early may leave the
// data size at 0 or too large: the data then runs to the end of the file.
std::optional<Recording> readWav(const std::string &path, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a RIFF WAVE file";
        return std::nullopt;
    }
    Recording rec;
    int bits = 0;
    bool haveFormat = false;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char *chunk = bytes.data() + pos;
        const std::size_t size = le32(chunk + 4);
        const std::size_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || body + 16 > bytes.size()) {
                error = "short format chunk";
                return std::nullopt;
            }
            const unsigned format = le16(bytes.data() + body);
            rec.channels = le16(bytes.data() + body + 2);
            rec.rate = le32(bytes.data() + body + 4);
            bits = le16(bytes.data() + body + 14);
            // 1 is PCM; 0xFFFE (extensible) carries the PCM sub-format in its GUID's first two bytes.
            const bool pcm = format == 1 || (format == 0xFFFE && size >= 26 && body + 26 <= bytes.size() &&
                                             le16(bytes.data() + body + 24) == 1);
            if (!pcm || bits != 16 || rec.channels < 1 || rec.rate <= 0) {
                error = "only 16-bit PCM is read (format " + std::to_string(format) + ", " + std::to_string(bits) +
                        " bits, " + std::to_string(rec.channels) + " channels)";
                return std::nullopt;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                error = "data chunk before the format chunk";
                return std::nullopt;
            }
            std::size_t length = size;
            if (length == 0 || body + length > bytes.size())
                length = bytes.size() - body;
            const std::size_t frameBytes = static_cast<std::size_t>(rec.channels) * 2;
            const std::size_t frames = length / frameBytes;
            rec.level.resize(frames);
            for (std::size_t f = 0; f < frames; ++f) {
                int loudest = 0;
                for (int c = 0; c < rec.channels; ++c) {
                    const int sample = static_cast<std::int16_t>(le16(bytes.data() + body + f * frameBytes + c * 2));
                    if (sample >= 32767 || sample <= -32768)
                        ++rec.clipped;
                    loudest = std::max(loudest, std::abs(sample));
                }
                rec.level[f] = loudest / 32768.0;
            }
            return rec;
        }
        pos = body + size + (size & 1);
    }
    error = path + " has no data chunk";
    return std::nullopt;
}

std::vector<Dropout> findDropouts(const Recording &rec)
{
    const std::vector<double> &x = rec.level;
    const double loud = std::pow(10.0, kDropoutLevelDbfs / 20.0);
    const auto ms = [&](std::size_t frames) { return 1000.0 * static_cast<double>(frames) / rec.rate; };
    std::vector<Dropout> dropouts;
    std::size_t n = 1;
    while (n < x.size()) {
        if (x[n] != 0 || x[n - 1] < loud) {
            ++n;
            continue;
        }
        std::size_t end = n;
        while (end < x.size() && x[end] == 0)
            ++end;
        const double length = ms(end - n);
        if (end < x.size() && length >= kDropoutMinMs && length <= kDropoutMaxMs)
            dropouts.push_back({ms(n), length, end});
        n = end + 1;
    }
    return dropouts;
}

std::vector<Onset> findSounds(const Recording &rec, double thresholdDb)
{
    const std::vector<double> &x = rec.level;
    std::vector<Onset> onsets;
    const double loudest = x.empty() ? 0.0 : *std::max_element(x.begin(), x.end());
    if (loudest <= 0)
        return onsets;
    const double threshold = std::max(loudest * std::pow(10.0, thresholdDb / 20.0), std::pow(10.0, kFloorDbfs / 20.0));
    const auto frames = [&](double ms) { return static_cast<std::size_t>(std::lround(ms * rec.rate / 1000.0)); };
    const auto loudestIn = [&](std::size_t from, std::size_t to) { // [from, to), clipped to the recording
        to = std::min(to, x.size());
        return from < to ? *std::max_element(x.begin() + static_cast<std::ptrdiff_t>(from),
                                             x.begin() + static_cast<std::ptrdiff_t>(to))
                         : 0.0;
    };
    const auto before = [](std::size_t n, std::size_t span) { return n > span ? n - span : 0; };
    const double decay = std::exp(-1000.0 / (kEnvelopeDecayMs * rec.rate));
    const double rise = std::pow(10.0, kRiseDb / 20.0);
    const std::size_t quiet = std::max<std::size_t>(1, frames(kQuietMs));

    double envelope = 0;
    bool armed = true;
    std::size_t earliest = 0;       // no onset before this frame (the last click's refractory time)
    std::size_t crossed = x.size(); // where the envelope last rose through the threshold while armed
    for (std::size_t n = 0; n < x.size(); ++n) {
        envelope = std::max(x[n], envelope * decay);
        if (!armed) {
            armed = envelope < threshold * kRearmRatio;
            continue;
        }
        if (envelope < threshold || n < earliest) {
            crossed = x.size();
            continue;
        }
        crossed = std::min(crossed, n);
        const double background = loudestIn(before(n, frames(kBackgroundFromMs)), before(n, frames(kBackgroundToMs)));
        if (envelope < rise * background) {
            // Not a rise from quiet: give it the look-back time, then wait for the next fall.
            if (n - crossed > frames(kLookBackMs))
                armed = false;
            continue;
        }
        const double peak = loudestIn(n, n + frames(kPeakWindowMs));
        const double onsetLevel = std::max(peak * std::pow(10.0, kOnsetLevelDb / 20.0), 2 * background);
        // Back from the detection, across the click's own zero crossings, to its start.
        const std::size_t from = std::max(earliest, before(n, frames(kLookBackMs)));
        std::size_t first = n;
        std::size_t below = 0;
        for (std::size_t m = n; m > from && below < quiet; --m) {
            if (x[m - 1] < onsetLevel) {
                ++below;
            } else {
                below = 0;
                first = m - 1;
            }
        }
        onsets.push_back({1000.0 * static_cast<double>(first) / rec.rate, peak});
        armed = false;
        earliest = first + frames(kRefractoryMs);
    }
    return onsets;
}

// Splits the sounds into clicks and the rest: quiet events (see kQuietEventDb) and a
// sound's return after a dropout.
std::vector<Onset> keepClicks(const std::vector<Onset> &sounds, const std::vector<Dropout> &dropouts, double rate,
                              std::vector<Onset> &quiet, std::vector<Onset> &resumed)
{
    std::vector<Onset> candidates;
    for (const Onset &o : sounds) {
        const bool afterDropout = std::any_of(dropouts.begin(), dropouts.end(), [&](const Dropout &d) {
            const double back = 1000.0 * static_cast<double>(d.end) / rate;
            return o.ms >= d.ms && o.ms <= back + kQuietMs;
        });
        (afterDropout ? resumed : candidates).push_back(o);
    }
    if (candidates.empty())
        return {};
    std::vector<double> peaks;
    for (const Onset &o : candidates)
        peaks.push_back(o.peak);
    std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(peaks.size() / 2), peaks.end());
    const double floor = peaks[peaks.size() / 2] * std::pow(10.0, kQuietEventDb / 20.0);
    std::vector<Onset> clicks;
    for (const Onset &o : candidates)
        (o.peak >= floor ? clicks : quiet).push_back(o);
    return clicks;
}

double dbfs(double level) { return level > 0 ? 20.0 * std::log10(level) : -HUGE_VAL; }

std::string fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return "na";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void usage() { std::fprintf(stderr, "usage: onsets [--threshold-db DB] FILE.wav [PERIOD_MS]\n"); }

} // namespace

int main(int argc, char *argv[])
{
    double thresholdDb = kDefaultThresholdDb;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threshold-db" && i + 1 < argc) {
            thresholdDb = std::atof(argv[++i]);
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty() || args.size() > 2 || thresholdDb >= 0) {
        usage();
        return 2;
    }
    double period = NAN;
    if (args.size() == 2) {
        char *end = nullptr;
        period = std::strtod(args[1].c_str(), &end);
        if (*end != '\0' || !(period > 0)) {
            usage();
            return 2;
        }
    }

    std::string error;
    const std::optional<Recording> rec = readWav(args[0], error);
    if (!rec) {
        std::fprintf(stderr, "onsets: %s\n", error.c_str());
        return 2;
    }
    const double loudest = rec->level.empty() ? 0.0 : *std::max_element(rec->level.begin(), rec->level.end());
    std::printf("# %s: %.0f Hz, %d channels, %.2f s, peak %s dBFS\n", args[0].c_str(), rec->rate, rec->channels,
                static_cast<double>(rec->level.size()) / rec->rate, fixed(dbfs(loudest), 2).c_str());

    const std::vector<Dropout> dropouts = findDropouts(*rec);
    std::vector<Onset> quiet;
    std::vector<Onset> resumed;
    const std::vector<Onset> onsets = keepClicks(findSounds(*rec, thresholdDb), dropouts, rec->rate, quiet, resumed);
    for (const Dropout &d : dropouts)
        std::printf("# dropout %.2f %.2f ms of silence inside a sound\n", d.ms, d.lengthMs);
    for (const Onset &o : resumed)
        std::printf("# resumed %.2f %.2f (a sound coming back after a dropout, not a click)\n", o.ms, dbfs(o.peak));
    for (const Onset &o : quiet)
        std::printf("# quiet %.2f %.2f (far below the clicks, not a click)\n", o.ms, dbfs(o.peak));
    for (const Onset &o : onsets)
        std::printf("onset %.2f %.2f\n", o.ms, dbfs(o.peak));

    // Interval by interval.
    const std::size_t n = onsets.size();
    double meanInterval = NAN;
    if (n >= 2)
        meanInterval = (onsets.back().ms - onsets.front().ms) / static_cast<double>(n - 1);
    const double expected = std::isfinite(period) ? period : meanInterval;
    double errRms = NAN;
    double errMax = NAN;
    if (n >= 2) {
        double sumSquares = 0;
        errMax = 0;
        for (std::size_t i = 1; i < n; ++i) {
            const double err = onsets[i].ms - onsets[i - 1].ms - expected;
            sumSquares += err * err;
            errMax = std::max(errMax, std::abs(err));
        }
        errRms = std::sqrt(sumSquares / static_cast<double>(n - 1));
    }

    // Against a straight grid: click i belongs to grid point k_i, the nearest whole number
    // of periods after the first click (a missing click leaves its point empty). Two grids:
    // - the fitted line t0 + k * P (both by least squares): its period, its drift from the
    //   expected period in parts per million, and each click's deviation from it, which
    //   shows where clicks were pushed back (an under-run moves every later click);
    // - the expected period with only t0 fitted: the deviation that a listener comparing
    //   with a perfect clock would hear, drift included. The recording's own sample clock
    //   counts in that drift (a PulseAudio null sink runs some 170 ppm fast with short blocks).
    double gridDevRms = NAN;
    double gridDevMax = NAN;
    double gridPeriod = NAN;
    double driftPpm = NAN;
    double nominalDevMax = NAN;
    if (n >= 2 && expected > 0) {
        std::vector<double> k(n);
        double meanK = 0;
        double meanT = 0;
        for (std::size_t i = 0; i < n; ++i) {
            k[i] = std::round((onsets[i].ms - onsets[0].ms) / expected);
            meanK += k[i];
            meanT += onsets[i].ms;
        }
        meanK /= static_cast<double>(n);
        meanT /= static_cast<double>(n);
        double sxy = 0;
        double sxx = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sxy += (k[i] - meanK) * (onsets[i].ms - meanT);
            sxx += (k[i] - meanK) * (k[i] - meanK);
        }
        if (sxx > 0) {
            gridPeriod = sxy / sxx;
            driftPpm = (gridPeriod / expected - 1) * 1e6;
            double sumSquares = 0;
            gridDevMax = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double dev = onsets[i].ms - (meanT + (k[i] - meanK) * gridPeriod);
                sumSquares += dev * dev;
                gridDevMax = std::max(gridDevMax, std::abs(dev));
            }
            gridDevRms = std::sqrt(sumSquares / static_cast<double>(n));
        }
        nominalDevMax = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double dev = onsets[i].ms - (meanT + (k[i] - meanK) * expected);
            nominalDevMax = std::max(nominalDevMax, std::abs(dev));
        }
    }

    double clickPeak = NAN;
    for (const Onset &o : onsets)
        clickPeak = std::isfinite(clickPeak) ? std::max(clickPeak, o.peak) : o.peak;

    std::printf(
        "summary onsets=%zu mean_interval_ms=%s period_ms=%s interval_err_rms_us=%s interval_err_max_us=%s "
        "grid_period_ms=%s drift_ppm=%s grid_dev_rms_us=%s grid_dev_max_us=%s nominal_grid_dev_max_us=%s peak_dbfs=%s "
        "clipped_samples=%ld dropouts=%zu quiet_events=%zu\n",
        n, fixed(meanInterval, 3).c_str(), fixed(expected, 3).c_str(), fixed(errRms * 1000, 0).c_str(),
        fixed(errMax * 1000, 0).c_str(), fixed(gridPeriod, 4).c_str(), fixed(driftPpm, 0).c_str(),
        fixed(gridDevRms * 1000, 0).c_str(), fixed(gridDevMax * 1000, 0).c_str(),
        fixed(nominalDevMax * 1000, 0).c_str(), fixed(dbfs(clickPeak), 2).c_str(), rec->clipped, dropouts.size(),
        quiet.size());
    return 0;
}
