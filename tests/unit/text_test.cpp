// Text drawing: the EUC-KR conversion, the KS X 1001 table, and what
// DrawText and DrawTitle put on a surface. Drawn text is checked against an
// independent rendering of the expected characters through SDL_ttf's UTF-8
// entry, so a wrong conversion or a wrong choice of text shows as different
// pixels.

#include "ui/text.h"

#include <SDL.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ui/ksx1001.h"
#include "view/recorderview.h"

namespace {

constexpr Uint16 kUntouched = 0xBEEF;

int Cell(int lead, int trail)
{
    return KsX1001Table[(lead - 0xA1) * 94 + (trail - 0xA1)];
}

TEST(EucKrToUcs2Test, ConvertsEachByteOrPair)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Uint16> units;  // everything written, terminator included
    };
    const Case cases[] = {
        {"ascii", "Recorder", {'R', 'e', 'c', 'o', 'r', 'd', 'e', 'r', 0}},
        {"highest ascii", "\x7F", {0x7F, 0}},
        {"first syllable", "\xB0\xA1", {0xAC00, 0}},
        {"korean title", "\xB3\xEC\xC0\xBD\xB1\xE2", {0xB179, 0xC74C, 0xAE30, 0}},
        {"mixed", "A\xB0\xA1Z", {'A', 0xAC00, 'Z', 0}},
        {"first cell", "\xA1\xA1", {0x3000, 0}},
        {"middle dot", "\xA1\xA4", {0x00B7, 0}},
        {"last cell", "\xFD\xFE", {0x8A70, 0}},
        {"hangul filler", "\xA4\xD4", {0x3164, 0}},
        // Undefined and malformed pairs give 0 and the pass goes on behind them.
        {"euro sign mid-text", "A\xA2\xE6Z", {'A', 0, 'Z', 0}},
        {"lead 0x80", "A\x80\x41Z", {'A', 0, 'Z', 0}},
        {"lead 0x9F", "\x9F\xFE", {0, 0}},
        {"row FE", "\xFE\xA1", {0, 0}},
        {"one past the last cell", "\xFD\xFF", {0, 0}},
        {"index below the table", "\xA1\x41", {0, 0}},
        // The trail byte is not checked on its own: B2 41 reaches B0 FD.
        {"stray trail byte", "\xB2\x41", {0xAD04, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Uint16> out(c.bytes.size() + 1, kUntouched);
        EucKrToUcs2(c.bytes.c_str(), out.data());
        ASSERT_LE(c.units.size(), out.size());
        for (size_t i = 0; i < out.size(); ++i) {
            const Uint16 want = i < c.units.size() ? c.units[i] : kUntouched;
            EXPECT_EQ(want, out[i]) << "unit " << i;
        }
    }
}

TEST(EucKrToUcs2Test, LeadByteBeforeTheTerminatorStopsThere)
{
    for (const unsigned char lead : {0x80, 0xB0, 0xFE, 0xFF}) {
        SCOPED_TRACE(lead);
        // Buffers of exactly the documented size, so that a read or write
        // past them is an error under AddressSanitizer.
        std::unique_ptr<char[]> in(new char[3]{'A', static_cast<char>(lead), '\0'});
        std::unique_ptr<Uint16[]> out(new Uint16[3]{kUntouched, kUntouched, kUntouched});
        EucKrToUcs2(in.get(), out.get());
        EXPECT_EQ('A', out[0]);
        EXPECT_EQ(0, out[1]);

        // Bytes behind the terminator must not be converted.
        const char tail[] = {'A', static_cast<char>(lead), '\0', 'Z', 'Z', '\0'};
        std::vector<Uint16> units(sizeof tail + 1, kUntouched);
        EucKrToUcs2(tail, units.data());
        EXPECT_EQ('A', units[0]);
        EXPECT_EQ(0, units[1]);
        for (size_t i = 2; i < units.size(); ++i)
            EXPECT_NE('Z', units[i]) << "unit " << i;
    }
}

TEST(KsX1001TableTest, TellingEntries)
{
    struct Case {
        int lead, trail;
        int32_t entry;
    };
    const Case cases[] = {
        {0xA1, 0xA1, 0x3000}, {0xA2, 0xE6, -1},     {0xA2, 0xE7, -1},     {0xA2, 0xE8, -1},
        {0xA4, 0xA1, 0x3131}, {0xA4, 0xD4, 0x3164}, {0xB0, 0xA1, 0xAC00}, {0xC8, 0xFE, 0xD79D},
        {0xCA, 0xA1, 0x4F3D}, {0xFD, 0xFE, 0x8A70}, {0xA3, 0xC1, 0xFF21}, {0xB0, 0xFD, 0xAD04},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.entry, Cell(c.lead, c.trail)) << std::hex << c.lead << " " << c.trail;
    for (const int lead : {0xAD, 0xAE, 0xAF, 0xC9})
        for (int trail = 0xA1; trail <= 0xFE; ++trail)
            EXPECT_EQ(-1, Cell(lead, trail)) << std::hex << lead << " " << trail;
}

TEST(KsX1001TableTest, DefinedCellsAreBmpCodePoints)
{
    static_assert(sizeof KsX1001Table / sizeof KsX1001Table[0] == 8742, "93 rows of 94");
    int defined = 0;
    int32_t largest = 0;
    for (int i = 0; i < kKsX1001TableSize; ++i) {
        const int32_t entry = KsX1001Table[i];
        if (entry == -1)
            continue;
        ++defined;
        EXPECT_GT(entry, 0) << i;
        EXPECT_LE(entry, 0xFFFF) << i;
        largest = std::max(largest, entry);
    }
    EXPECT_EQ(8224, defined);
    EXPECT_EQ(0xFFE6, largest);
}

// The handheld's system font, in the simulated handheld every test process gets.
constexpr char kFontPath[] = "/usr/orvo/HYUni_ZEM_B.ttf";
constexpr char kKoreanTitleUtf8[] = "\xEB\x85\xB9\xEC\x9D\x8C\xEA\xB8\xB0";  // U+B179 U+C74C U+AE30

class TextDrawTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setenv("SDL_VIDEODRIVER", "dummy", 0); }

    void SetUp() override
    {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        ASSERT_EQ(0, TTF_Init()) << TTF_GetError();
        view_.reset(new CRecorderView);
        ASSERT_EQ(1, view_->LoadFont(kFontPath, 12));
        ASSERT_NE(nullptr, view_->font);
    }

    void TearDown() override
    {
        // Close the font here so that TTF_Init and TTF_Quit pair up in this
        // fixture whatever the view's release does.
        if (view_ && view_->font) {
            TTF_CloseFont(view_->font);
            view_->font = nullptr;
        }
        view_.reset();
        TTF_Quit();
        SDL_Quit();
    }

    using Surface = std::unique_ptr<SDL_Surface, decltype(&SDL_FreeSurface)>;

    static Surface WhiteScreen()
    {
        Surface s(SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 32, 0xFF0000, 0xFF00, 0xFF, 0),
                  &SDL_FreeSurface);
        EXPECT_NE(nullptr, s.get());
        SDL_FillRect(s.get(), nullptr, SDL_MapRGB(s->format, 255, 255, 255));
        return s;
    }

    // What the screen should look like: the UTF-8 text rendered by SDL_ttf
    // itself at (x, y), or a white screen when nothing is expected.
    Surface Expected(int x, int y, const char* utf8)
    {
        Surface s = WhiteScreen();
        if (utf8 && *utf8) {
            SDL_Color black = {0, 0, 0, 0};
            SDL_Surface* text = TTF_RenderUTF8_Solid(view_->font, utf8, black);
            EXPECT_NE(nullptr, text) << TTF_GetError();
            if (text) {
                SDL_Rect at = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
                SDL_BlitSurface(text, nullptr, s.get(), &at);
                SDL_FreeSurface(text);
            }
        }
        return s;
    }

    static int BlackPixels(const SDL_Surface* s)
    {
        int count = 0;
        for (int y = 0; y < s->h; ++y) {
            const Uint32* row = reinterpret_cast<const Uint32*>(
                static_cast<const Uint8*>(s->pixels) + y * s->pitch);
            for (int x = 0; x < s->w; ++x)
                count += (row[x] & 0xFFFFFF) == 0;
        }
        return count;
    }

    static bool SamePixels(const SDL_Surface* a, const SDL_Surface* b)
    {
        for (int y = 0; y < a->h; ++y) {
            if (std::memcmp(static_cast<const Uint8*>(a->pixels) + y * a->pitch,
                            static_cast<const Uint8*>(b->pixels) + y * b->pitch, a->w * 4) != 0)
                return false;
        }
        return true;
    }

    std::unique_ptr<CRecorderView> view_;
};

TEST_F(TextDrawTest, DrawsTheConvertedText)
{
    struct Case {
        const char* text;
        int x, y;
        const char* shown;  // UTF-8; null when nothing may be drawn
    };
    const Case cases[] = {
        {"Recorder", 95, 12, "Recorder"},
        {"\xB3\xEC\xC0\xBD\xB1\xE2", 20, 100, kKoreanTitleUtf8},
        {"AB\xA2\xE6XY", 10, 50, "AB"},
        {"AB\x85\x41XY", 10, 50, "AB"},
        {"AB\xFE\xA1XY", 10, 50, "AB"},
        {"\xA2\xE6XY", 10, 50, nullptr},
        {"", 10, 50, nullptr},
        // Recordings show their file name only.
        {"/mnt/sd/music/rec/20240102_030405.wav", 60, 140, "20240102_030405.wav"},
        {"/mnt/sd/music/rec/\xB3\xEC\xC0\xBD.wav", 60, 140, "\xEB\x85\xB9\xEC\x9D\x8C.wav"},
        {"/tmp/mnt/sd/music/rec/a.wav", 60, 140, "a.wav"},
        {"/mnt/sd/music/rec", 60, 140, "rec"},
        {"/mnt/sd/music/rec/", 60, 140, nullptr},
        // Other paths are drawn whole.
        {"/mnt/sd/music/other/a.wav", 5, 140, "/mnt/sd/music/other/a.wav"},
        {"mnt/sd/music/recent", 5, 140, "mnt/sd/music/recent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Surface screen = WhiteScreen();
        view_->DrawText(screen.get(), c.x, c.y, c.text);
        Surface expected = Expected(c.x, c.y, c.shown);
        if (c.shown)
            EXPECT_GT(BlackPixels(expected.get()), 0);
        else
            EXPECT_EQ(0, BlackPixels(screen.get()));
        EXPECT_TRUE(SamePixels(expected.get(), screen.get()));
    }
}

TEST_F(TextDrawTest, LongerThan512BytesIsNotDrawn)
{
    const std::string folder = "/mnt/sd/music/rec/";
    struct Case {
        std::string text;
        bool drawn;
    };
    const Case cases[] = {
        {std::string(511, 'W'), true},
        {std::string(512, 'W'), true},
        {std::string(513, 'W'), false},
        {std::string(2000, 'W'), false},
        // The limit is on the whole path, not the file name that is shown.
        {folder + std::string(512 - folder.size(), 'W'), true},
        {folder + std::string(513 - folder.size(), 'W'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        Surface screen = WhiteScreen();
        view_->DrawText(screen.get(), 0, 0, c.text.c_str());
        EXPECT_EQ(c.drawn, BlackPixels(screen.get()) > 0);
    }
}

TEST_F(TextDrawTest, NothingIsDrawnWithoutAFont)
{
    // A second load replaces the first font (a leak shows under the sanitizer).
    ASSERT_EQ(1, view_->LoadFont(kFontPath, 12));
    Surface screen = WhiteScreen();
    view_->DrawText(screen.get(), 0, 0, "Recorder");
    EXPECT_GT(BlackPixels(screen.get()), 0);

    EXPECT_EQ(0, view_->LoadFont("no/such/font.ttf", 12));
    EXPECT_EQ(nullptr, view_->font);
    screen = WhiteScreen();
    view_->DrawText(screen.get(), 0, 0, "Recorder");
    view_->DrawTitle(screen.get());
    EXPECT_EQ(0, BlackPixels(screen.get()));
}

TEST_F(TextDrawTest, TitleFollowsTheLanguage)
{
    struct Case {
        const char* language;
        const char* title;
    };
    const Case cases[] = {
        {"ko_KR.utf8", kKoreanTitleUtf8},
        {"C.ko_KR.utf8", kKoreanTitleUtf8},
        {"en_US.utf8", "Recorder"},
        {"ko_KR.UTF-8", "Recorder"},
        {"ko_KR", "Recorder"},
        {"", "Recorder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        std::strncpy(view_->language, c.language, sizeof view_->language - 1);
        view_->language[sizeof view_->language - 1] = '\0';
        Surface screen = WhiteScreen();
        view_->DrawTitle(screen.get());
        Surface expected = Expected(95, 12, c.title);
        EXPECT_GT(BlackPixels(expected.get()), 0);
        EXPECT_TRUE(SamePixels(expected.get(), screen.get()));
    }
}

}  // namespace
