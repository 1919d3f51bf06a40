#include "tests/e2e/screen.h"

#include <dlfcn.h>
#include <png.h>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr int kMessageFrames = 7;

uint32_t Le(const std::string& bytes, size_t at, int count)
{
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

bool Inside(const Image& image, const Area& area)
{
    return area.x >= 0 && area.y >= 0 && area.x + area.w <= image.width &&
           area.y + area.h <= image.height;
}

// The fraction of pixels of `area` in `a` equal to those of the same size at
// (bx, by) in `b`.
double Agreement(const Image& a, const Area& area, const Image& b, int bx, int by)
{
    if (!Inside(a, area) || !Inside(b, Area{bx, by, area.w, area.h}))
        return 0;
    long same = 0;
    for (int y = 0; y < area.h; ++y) {
        const uint8_t* pa = &a.rgb[(static_cast<size_t>(area.y + y) * a.width + area.x) * 3];
        const uint8_t* pb = &b.rgb[(static_cast<size_t>(by + y) * b.width + bx) * 3];
        for (int x = 0; x < area.w; ++x, pa += 3, pb += 3)
            same += pa[0] == pb[0] && pa[1] == pb[1] && pa[2] == pb[2];
    }
    return static_cast<double>(same) / (static_cast<double>(area.w) * area.h);
}

}  // namespace

Image ReadBmp(const std::string& path)
{
    Image image;
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0 || Le(bytes, 28, 2) != 24)
        return image;
    const int width = static_cast<int>(Le(bytes, 18, 4));
    const int height = static_cast<int>(Le(bytes, 22, 4));
    const size_t offset = Le(bytes, 10, 4);
    const size_t row = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    if (width <= 0 || height <= 0 || bytes.size() < offset + row * height)
        return image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        // Bottom row first, blue-green-red.
        const char* in = bytes.data() + offset + row * (height - 1 - y);
        uint8_t* out = &image.rgb[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = static_cast<uint8_t>(in[2]);
            out[1] = static_cast<uint8_t>(in[1]);
            out[2] = static_cast<uint8_t>(in[0]);
        }
    }
    return image;
}

// The test program links nothing but GoogleTest, so the system's libpng,
// which the recorder's build needs anyway, is opened at run time.
Image ReadPng(const std::string& path)
{
    Image image;
    static void* const library = ::dlopen("libpng16.so.16", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return image;
    using Begin = int (*)(png_imagep, const char*);
    using Finish = int (*)(png_imagep, png_const_colorp, void*, png_int_32, void*);
    using Free = void (*)(png_imagep);
    const auto begin = reinterpret_cast<Begin>(::dlsym(library, "png_image_begin_read_from_file"));
    const auto finish = reinterpret_cast<Finish>(::dlsym(library, "png_image_finish_read"));
    const auto release = reinterpret_cast<Free>(::dlsym(library, "png_image_free"));
    if (!begin || !finish || !release)
        return image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!begin(&png, path.c_str()))
        return image;
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
    if (!finish(&png, nullptr, rgb.data(), 0, nullptr)) {
        release(&png);
        return image;
    }
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgb = std::move(rgb);
    release(&png);
    return image;
}

bool SameArea(const Image& a, const Image& b, const Area& area)
{
    return Inside(a, area) && Agreement(a, area, b, area.x, area.y) == 1.0;
}

int ShownMessage(const Image& shot, const Image& strip)
{
    const int frame_height = strip.height / kMessageFrames;
    if (frame_height != area::kMessage.h || strip.width != area::kMessage.w)
        return -1;
    for (int index = 0; index < kMessageFrames; ++index)
        if (Agreement(shot, area::kMessage, strip, 0, index * frame_height) > 0.999)
            return index;
    return -1;
}

Image MessageStrip()
{
    return ReadPng(std::string(SOURCE_DIR) + "/res/app_rec_error.png");
}

}  // namespace e2e
