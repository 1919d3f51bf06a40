#include "sim/frames.h"

#include <png.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "sim/handheld.h"

namespace sim {
namespace frames {
namespace {

// A flipped frame as the surface held it: its bytes, row by row with the
// surface's pitch, and its pixel format. Turned into colours only when a shot
// is written, so a flip costs one copy.
struct Frame {
    int width = 0;
    int height = 0;
    int pitch = 0;
    SDL_PixelFormat format = {};  // its palette pointer is not kept
    std::vector<SDL_Color> palette;
    std::vector<Uint8> bytes;
};

struct Store {
    std::mutex lock;
    std::condition_variable came_up;
    bool cancelled = false;
    unsigned long flips = 0;
    Frame last;
};

// Never destroyed: the scenario player may still wait on it when the
// recorder exits before its first frame.
Store& TheStore()
{
    static Store& store = *new Store;
    return store;
}

bool WritePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y)
            png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<size_t>(y) * width * 3]));
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

void PutLe(std::vector<unsigned char>& out, unsigned value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

bool WriteBmp(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb)
{
    const unsigned row = (static_cast<unsigned>(width) * 3 + 3) & ~3u;
    const unsigned data = row * static_cast<unsigned>(height);
    std::vector<unsigned char> out;
    out.push_back('B');
    out.push_back('M');
    PutLe(out, 54 + data, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);
    PutLe(out, 40, 4);
    PutLe(out, static_cast<unsigned>(width), 4);
    PutLe(out, static_cast<unsigned>(height), 4);
    PutLe(out, 1, 2);
    PutLe(out, 24, 2);
    PutLe(out, 0, 4);
    PutLe(out, data, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    for (int y = height - 1; y >= 0; --y) {
        const unsigned char* p = &rgb[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x, p += 3) {
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
        }
        for (unsigned pad = static_cast<unsigned>(width) * 3; pad < row; ++pad)
            out.push_back(0);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

bool EndsWith(const std::string& s, const char* tail)
{
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// The frame's colours, three bytes a pixel, top row first.
std::vector<unsigned char> Rgb(const Frame& frame)
{
    SDL_PixelFormat format = frame.format;
    SDL_Palette palette = {static_cast<int>(frame.palette.size()),
                           const_cast<SDL_Color*>(frame.palette.data())};
    if (!frame.palette.empty())
        format.palette = &palette;
    const int bpp = format.BytesPerPixel;
    std::vector<unsigned char> rgb(static_cast<size_t>(frame.width) * frame.height * 3);
    for (int y = 0; y < frame.height; ++y) {
        const Uint8* row = frame.bytes.data() + static_cast<size_t>(y) * frame.pitch;
        for (int x = 0; x < frame.width; ++x) {
            const Uint8* p = row + x * bpp;
            Uint32 pixel = 0;
            switch (bpp) {
            case 1:
                pixel = *p;
                break;
            case 2:
                pixel = *reinterpret_cast<const Uint16*>(p);
                break;
            case 3:
                pixel = p[0] | (p[1] << 8) | (p[2] << 16);
                break;
            default:
                pixel = *reinterpret_cast<const Uint32*>(p);
                break;
            }
            Uint8* out = &rgb[(static_cast<size_t>(y) * frame.width + x) * 3];
            SDL_GetRGB(pixel, &format, &out[0], &out[1], &out[2]);
        }
    }
    return rgb;
}

}  // namespace

void Flipped(SDL_Surface* screen)
{
    if (!screen)
        return;
    const bool locked = SDL_MUSTLOCK(screen) ? SDL_LockSurface(screen) == 0 : true;
    if (!locked)
        return;
    Store& store = TheStore();
    {
        std::lock_guard<std::mutex> hold(store.lock);
        Frame& frame = store.last;
        frame.width = screen->w;
        frame.height = screen->h;
        frame.pitch = screen->pitch;
        frame.format = *screen->format;
        frame.format.palette = nullptr;
        const SDL_Palette* palette = screen->format->palette;
        if (palette)
            frame.palette.assign(palette->colors, palette->colors + palette->ncolors);
        else
            frame.palette.clear();
        const Uint8* pixels = static_cast<const Uint8*>(screen->pixels);
        frame.bytes.assign(pixels, pixels + static_cast<size_t>(screen->pitch) * screen->h);
        ++store.flips;
    }
    if (SDL_MUSTLOCK(screen))
        SDL_UnlockSurface(screen);
    store.came_up.notify_all();
}

unsigned long FlipCount()
{
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.lock);
    return store.flips;
}

bool WaitFirstFlip()
{
    Store& store = TheStore();
    std::unique_lock<std::mutex> hold(store.lock);
    store.came_up.wait(hold, [&] { return store.flips > 0 || store.cancelled; });
    return store.flips > 0 && !store.cancelled;
}

void Cancel()
{
    Store& store = TheStore();
    {
        std::lock_guard<std::mutex> hold(store.lock);
        store.cancelled = true;
    }
    store.came_up.notify_all();
}

bool SaveLast(const std::string& path)
{
    Frame frame;
    {
        Store& store = TheStore();
        std::lock_guard<std::mutex> hold(store.lock);
        frame = store.last;
    }
    bool ok = false;
    if (frame.width > 0 && frame.height > 0) {
        const std::vector<unsigned char> rgb = Rgb(frame);
        ok = EndsWith(path, ".png") ? WritePng(path, frame.width, frame.height, rgb)
                                    : WriteBmp(path, frame.width, frame.height, rgb);
    }
    if (!ok)
        Notice("cannot write the screenshot %s", path.c_str());
    return ok;
}

}  // namespace frames
}  // namespace sim
