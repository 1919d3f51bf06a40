#include "sim/host_audio.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace sim {
namespace host_audio {
namespace {

// More than this is not queued: the card's own pace keeps the queue short,
// and an output that has stalled must not swallow memory.
constexpr size_t kMostQueued = 256 * 1024;

struct Output {
    std::mutex lock;
    bool open = false;
    int rate = 0;
    int channels = 0;
    int bits = 0;
    Uint8 silence = 0;
    std::deque<unsigned char> queued;
};

Output& TheOutput()
{
    // Never destroyed: SDL's audio thread may call in during exit.
    static Output* output = new Output;
    return *output;
}

void Feed(void*, Uint8* stream, int len)
{
    Output& out = TheOutput();
    std::lock_guard<std::mutex> hold(out.lock);
    const size_t n = std::min(out.queued.size(), static_cast<size_t>(len));
    std::copy_n(out.queued.begin(), n, stream);
    out.queued.erase(out.queued.begin(), out.queued.begin() + static_cast<long>(n));
    std::memset(stream + n, out.silence, static_cast<size_t>(len) - n);
}

bool HasRealDriver()
{
    char name[32] = "";
    return SDL_WasInit(SDL_INIT_AUDIO) && SDL_AudioDriverName(name, sizeof name) &&
           std::strcmp(name, "dummy") != 0;
}

void Close(Output& out, std::unique_lock<std::mutex>& hold)
{
    if (!out.open)
        return;
    out.open = false;
    hold.unlock();
    // Outside the lock: closing waits for the audio thread, which takes it.
    SDL_CloseAudio();
    hold.lock();
    out.queued.clear();
}

}  // namespace

void Play(const unsigned char* data, size_t size, int rate, int channels, int bits)
{
    Output& out = TheOutput();
    std::unique_lock<std::mutex> hold(out.lock);
    if (out.open && (out.rate != rate || out.channels != channels || out.bits != bits))
        Close(out, hold);
    if (!out.open) {
        if (!HasRealDriver())
            return;
        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = bits == 16 ? AUDIO_S16LSB : AUDIO_U8;
        want.channels = static_cast<Uint8>(channels);
        want.samples = 1024;
        want.callback = Feed;
        hold.unlock();
        const bool opened = SDL_OpenAudio(&want, nullptr) == 0;
        hold.lock();
        if (!opened)
            return;
        out.open = true;
        out.rate = rate;
        out.channels = channels;
        out.bits = bits;
        out.silence = bits == 16 ? 0 : 0x80;
        SDL_PauseAudio(0);
    }
    if (out.queued.size() + size <= kMostQueued)
        out.queued.insert(out.queued.end(), data, data + size);
}

void Stop()
{
    Output& out = TheOutput();
    std::unique_lock<std::mutex> hold(out.lock);
    Close(out, hold);
}

}  // namespace host_audio
}  // namespace sim
