#include "tests/pc/tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace e2e {
namespace {

// How many frames place a stretch of one stream in the other, and how far
// ahead a lost stretch is looked for (a tone repeats within a tenth of a
// second, so farther would find the same phase, not the same frames).
constexpr size_t kWindow = 32;
constexpr size_t kReach = 2205;

std::vector<uint32_t> Frames(const std::string& pcm)
{
    std::vector<uint32_t> frames(pcm.size() / 4);
    if (!frames.empty())
        std::memcpy(frames.data(), pcm.data(), frames.size() * 4);
    return frames;
}

int16_t Left(uint32_t frame)
{
    return static_cast<int16_t>(frame & 0xFFFF);
}

int16_t Right(uint32_t frame)
{
    return static_cast<int16_t>(frame >> 16);
}

std::vector<uint32_t> Sounding(const std::vector<uint32_t>& frames)
{
    std::vector<uint32_t> out;
    out.reserve(frames.size());
    for (uint32_t frame : frames)
        if (frame != 0)
            out.push_back(frame);
    return out;
}

}  // namespace

Tone ReadTone(const std::string& pcm, int rate, double expected_hz)
{
    const std::vector<uint32_t> frames = Frames(pcm);
    Tone tone;
    tone.frames = frames.size();
    if (frames.size() < 3 || rate <= 0)
        return tone;
    tone.channels_equal = true;
    double energy = 0;
    for (uint32_t frame : frames) {
        tone.channels_equal = tone.channels_equal && Left(frame) == Right(frame);
        energy += static_cast<double>(Left(frame)) * Left(frame);
    }
    const double rms = std::sqrt(energy / frames.size());
    tone.level_db = rms > 0 ? 20 * std::log10(rms * std::sqrt(2.0) / 32768) : -HUGE_VAL;

    double first = -1;
    double last = -1;
    int rises = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        const double a = Left(frames[i - 1]);
        const double b = Left(frames[i]);
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(i - 1) + a / (a - b);
            if (first < 0)
                first = at;
            last = at;
            ++rises;
        }
    }
    if (rises > 1)
        tone.hz = (rises - 1) / ((last - first) / rate);

    // A sine goes on as x[n] = 2 cos(w) x[n-1] - x[n-2]; a sample that
    // strays from that by more than rounding is a break in the tone.
    const double twice_cos = 2 * std::cos(2 * M_PI * expected_hz / rate);
    const double allowed = 8 + 0.02 * rms * std::sqrt(2.0);
    bool in_break = false;
    for (size_t i = 2; i < frames.size(); ++i) {
        const double predicted = twice_cos * Left(frames[i - 1]) - Left(frames[i - 2]);
        const bool strays = std::fabs(Left(frames[i]) - predicted) > allowed;
        if (strays && !in_break)
            ++tone.breaks;
        in_break = strays;
    }
    return tone;
}

Playback ComparePlayback(const std::string& recording, const std::string& played, size_t skip)
{
    const std::vector<uint32_t> r = Sounding(Frames(recording));
    const std::vector<uint32_t> p = Sounding(Frames(played));
    Playback result;
    result.recorded = r.size();
    result.played = p.size();
    if (r.size() <= skip)
        return result;
    // Where the recording, from `skip` on, begins in what was played.
    const size_t first = std::min(kWindow, r.size() - skip);
    size_t at = 0;
    while (at + first <= p.size() && std::memcmp(&p[at], &r[skip], first * 4) != 0)
        ++at;
    // Walks both together. Where they part, what was played goes on either
    // a little farther on in the recording (frames were lost) or not at all
    // (that frame is not the recording's).
    size_t k = skip;
    while (k < r.size() && at < p.size()) {
        if (p[at] == r[k]) {
            ++result.matching;
            ++k;
            ++at;
            continue;
        }
        const size_t window = std::min(kWindow, p.size() - at);
        size_t next = k;
        while (next + window <= r.size() && next - k <= kReach &&
               std::memcmp(&r[next], &p[at], window * 4) != 0)
            ++next;
        if (next + window <= r.size() && next - k <= kReach)
            k = next;
        else
            ++at;
    }
    return result;
}

}  // namespace e2e
