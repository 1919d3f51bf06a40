// Text drawing of the recorder view, and the EUC-KR to UCS-2 conversion that
// feeds SDL_ttf.

#include "ui/text.h"

#include <SDL_ttf.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/logmessage.h"
#include "platform/sys.h"
#include "ui/ksx1001.h"
#include "view/recorderview.h"

namespace {

// Longer texts are not drawn at all; the conversion buffer holds this many
// characters and the terminator.
constexpr size_t kMaxTextBytes = 512;

// Paths into this folder are recordings and show only their file name.
constexpr char kRecordingFolder[] = "/mnt/sd/music/rec";

constexpr char kKoreanLanguage[] = "ko_KR.utf8";
// "Recorder" in Korean, in EUC-KR: U+B179 U+C74C U+AE30.
constexpr char kKoreanTitle[] = "\xB3\xEC\xC0\xBD\xB1\xE2";
constexpr char kEnglishTitle[] = "Recorder";
constexpr int kTitleX = 95;
constexpr int kTitleY = 12;

}  // namespace

void EucKrToUcs2(const char* text, Uint16* out)
{
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    for (;;) {
        const int lead = in[0];
        if (lead == 0) {
            *out = 0;
            return;
        }
        if (lead < 0x80) {
            *out++ = static_cast<Uint16>(lead);
            ++in;
            continue;
        }
        const int trail = in[1];
        if (trail == 0) {
            // A pair cut short by the end of the string: stop on its
            // terminator rather than step over it.
            *out = 0;
            return;
        }
        // Only the combined index is bounded: a stray byte in a pair either
        // lands outside the table or on whatever cell the formula reaches.
        const int index = lead * 94 + trail - 15295;
        int32_t entry = -1;
        if (index >= 0 && index < kKsX1001TableSize)
            entry = KsX1001Table[index];
        *out++ = entry == -1 ? 0 : static_cast<Uint16>(entry & 0xFFFF);
        in += 2;
    }
}

namespace {

// SDL_ttf reads the font's file for as long as the font lives, so the file
// is opened here, close-on-exec, for the menu program not to inherit it.
TTF_Font* OpenFont(const char* path, int point_size)
{
    const int fd = sys::open(path, O_RDONLY | O_CLOEXEC);
    FILE* const file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!file) {
        SDL_SetError("%s", std::strerror(errno));
        if (fd >= 0)
            sys::close(fd);
        return nullptr;
    }
    SDL_RWops* const source = SDL_RWFromFP(file, 1);
    if (!source) {
        std::fclose(file);
        return nullptr;
    }
    return TTF_OpenFontRW(source, 1, point_size);
}

}  // namespace

int CRecorderView::LoadFont(const char* path, int point_size)
{
    if (font) {
        TTF_CloseFont(font);
        font = nullptr;
    }
    font = path ? OpenFont(path, point_size) : nullptr;
    if (font)
        return 1;
    LogMessage("recorderview.cpp", __LINE__, "Unable to load font: %s(%s)\n",
               path ? path : "(null)", SDL_GetError());
    return 0;
}

void CRecorderView::DrawText(SDL_Surface* target, int x, int y, const char* text)
{
    if (!font || !text)
        return;
    // strnlen keeps the length test from walking a very long text to its end.
    if (strnlen(text, kMaxTextBytes + 1) > kMaxTextBytes)
        return;

    const char* shown = text;
    if (std::strchr(text, '/') && std::strstr(text, kRecordingFolder))
        shown = std::strrchr(text, '/') + 1;

    Uint16 units[kMaxTextBytes + 1];
    EucKrToUcs2(shown, units);

    SDL_Color black = {0, 0, 0, 0};
    SDL_Surface* rendered = TTF_RenderUNICODE_Solid(font, units, black);
    if (!rendered)
        return;
    SDL_Rect where;
    where.x = static_cast<Sint16>(x);
    where.y = static_cast<Sint16>(y);
    where.w = static_cast<Uint16>(rendered->w);
    where.h = static_cast<Uint16>(rendered->h);
    SDL_UpperBlit(rendered, nullptr, target, &where);
    SDL_FreeSurface(rendered);
}

void CRecorderView::DrawTitle(SDL_Surface* target)
{
    const bool korean = std::strstr(language, kKoreanLanguage) != nullptr;
    DrawText(target, kTitleX, kTitleY, korean ? kKoreanTitle : kEnglishTitle);
}
