// The recorder screen read back pixel by pixel. Every cell of the clock, the
// counter, the icons and the buttons is compared with the pieces of the real
// skin (or help page, or message strip) that could lie there, so the screen is
// read the way a person reads it: "12:05 AM", "00:59:59".

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/handheld.h"
#include "tests/support/bench.h"
#include "ui/image.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

// An area of an image: where a piece comes from or where it lands.
struct Area {
    int x, y, w, h;
};

// The background bands sit at other heights in the skin than on the screen.
constexpr int kTopBandShift = 0;     // skin y = screen y in the top band
constexpr int kMiddleBandShift = 6;  // skin y = screen y + 6 in the middle band

Uint32 RawPixel(const SDL_Surface* s, int x, int y)
{
    const Uint8* p =
        static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
    switch (s->format->BytesPerPixel) {
    case 1:
        return *p;
    case 2: {
        Uint16 v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case 3:
        if (SDL_BYTEORDER == SDL_BIG_ENDIAN)
            return static_cast<Uint32>(p[0] << 16 | p[1] << 8 | p[2]);
        return static_cast<Uint32>(p[0] | p[1] << 8 | p[2] << 16);
    default: {
        Uint32 v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    }
}

// The colour at (x, y) as 0xRRGGBB, whatever the surface's format.
Uint32 Rgb(SDL_Surface* s, int x, int y)
{
    Uint8 r, g, b;
    SDL_GetRGB(RawPixel(s, x, y), s->format, &r, &g, &b);
    return static_cast<Uint32>(r << 16 | g << 8 | b);
}

bool Inside(const SDL_Surface* s, const Area& a)
{
    return a.x >= 0 && a.y >= 0 && a.w > 0 && a.h > 0 && a.x + a.w <= s->w && a.y + a.h <= s->h;
}

// Number of pixels in which the area `on` of `a` and the area of the same size
// at (bx, by) of `b` differ; -1 when either lies outside its image.
int Differences(SDL_Surface* a, const Area& on, SDL_Surface* b, int bx, int by)
{
    if (!a || !b || !Inside(a, on) || !Inside(b, {bx, by, on.w, on.h}))
        return -1;
    if (SDL_MUSTLOCK(a))
        SDL_LockSurface(a);
    int count = 0;
    for (int y = 0; y < on.h; ++y)
        for (int x = 0; x < on.w; ++x)
            count += Rgb(a, on.x + x, on.y + y) != Rgb(b, bx + x, by + y);
    if (SDL_MUSTLOCK(a))
        SDL_UnlockSurface(a);
    return count;
}

// A piece that a cell of the screen may show, named by one character.
struct Glyph {
    char name;
    SDL_Surface* image;
    Area source;
};

// The one glyph that the cell at (x, y) shows: '?' when none matches, '*'
// when several do (the artwork would not tell them apart).
char ReadCell(SDL_Surface* screen, int x, int y, const std::vector<Glyph>& glyphs)
{
    char seen = '?';
    for (const Glyph& g : glyphs) {
        if (Differences(screen, {x, y, g.source.w, g.source.h}, g.image, g.source.x, g.source.y) !=
            0)
            continue;
        seen = seen == '?' ? g.name : '*';
    }
    return seen;
}

// The clock on a given day, at a whole minute of the local time.
time_t LocalMinute(int hour, int minute)
{
    struct tm t {};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 15;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return mktime(&t);
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The status monitor keeps the status bar in step with the handheld,
        // so the handheld is set to what each test shows.
        sim::Handheld& machine = sim::Handheld::Instance();
        machine.SetCard(sim::CardState::kIn);
        machine.SetHold(false);
        machine.SetBattery(1);
        machine.SetClock(LocalMinute(10, 30));

        sdl_.emplace();
        ASSERT_EQ(sdl_->error(), "");
        screen_ = SDL_GetVideoSurface();
        skin_ = IMG_Load("./res/app_rec.png");
        ASSERT_NE(nullptr, skin_) << SDL_GetError();
        view_ = new CRecorderView;
        ASSERT_EQ(1, view_->Initialize());
        ASSERT_NE(nullptr, view_->play_button);
        ASSERT_NE(nullptr, view_->record_button);
        ASSERT_NE(nullptr, view_->list_button);
        ASSERT_NE(nullptr, view_->msg_box);
        ASSERT_NE(nullptr, view_->font);
    }

    void TearDown() override
    {
        if (view_) {
            view_->ExitInstance();
            delete view_;
        }
        for (SDL_Surface* image : {skin_, other_})
            if (image)
                SDL_FreeSurface(image);
        sdl_.reset();
    }

    void Draw() { view_->DrawScreen(SDL_GetVideoSurface()); }

    void SetClock(int hour, int minute)
    {
        sim::Handheld::Instance().SetClock(LocalMinute(hour, minute));
        view_->clock_hour = hour;
        view_->clock_min = minute;
    }

    // What lies under a cell: the band of the skin, or the help page.
    Glyph Background(int x, int y, int w, int h) const
    {
        if (background_)
            return {' ', background_, {x, y, w, h}};
        return {' ', skin_, {x, y + (y < 39 ? kTopBandShift : kMiddleBandShift), w, h}};
    }

    char ReadSmall(int x)
    {
        std::vector<Glyph> glyphs;
        for (int d = 0; d <= 9; ++d)
            glyphs.push_back({static_cast<char>('0' + d), skin_, {55 + 8 * d, 247, 8, 11}});
        glyphs.push_back({':', skin_, {135, 247, 8, 11}});
        glyphs.push_back(Background(x, 11, 8, 11));
        return ReadCell(screen_, x, 11, glyphs);
    }

    // "HH:MM" as the status bar shows it.
    std::string ReadClock()
    {
        std::string shown;
        for (int x : {227, 236, 244, 252, 261})
            shown += ReadSmall(x);
        return shown;
    }

    std::string ReadAmPm()
    {
        const char mark = ReadCell(screen_, 272, 11,
                                   {{'A', skin_, {143, 247, 18, 11}},
                                    {'P', skin_, {161, 247, 18, 11}},
                                    Background(272, 11, 18, 11)});
        return mark == 'A' || mark == 'P' ? std::string(1, mark) + "M" : std::string(1, mark);
    }

    // "HH:MM:SS" as the counter shows it; a cell showing the band is a blank.
    std::string ReadCounter()
    {
        std::string shown;
        for (int x : {162, 181, 200, 206, 225, 244, 250, 269}) {
            const bool colon = x == 200 || x == 244;
            std::vector<Glyph> glyphs;
            if (colon) {
                glyphs.push_back({':', skin_, {510, 220, 6, 43}});
            } else {
                for (int d = 0; d <= 9; ++d)
                    glyphs.push_back(
                        {static_cast<char>('0' + d), skin_, {320 + 19 * d, 220, 19, 43}});
            }
            glyphs.push_back(Background(x, 81, colon ? 6 : 19, 43));
            shown += ReadCell(screen_, x, 81, glyphs);
        }
        return shown;
    }

    char ReadBattery()
    {
        std::vector<Glyph> glyphs;
        for (int i = 0; i <= 4; ++i)
            glyphs.push_back({static_cast<char>('0' + i), skin_, {179 + 23 * i, 247, 23, 15}});
        glyphs.push_back(Background(293, 9, 23, 15));
        return ReadCell(screen_, 293, 9, glyphs);
    }

    char ReadHold()
    {
        return ReadCell(screen_, 212, 11,
                        {{'H', skin_, {294, 247, 11, 11}}, Background(212, 11, 11, 11)});
    }

    SDL_Surface* screen_ = nullptr;
    SDL_Surface* skin_ = nullptr;
    SDL_Surface* other_ = nullptr;       // the help page or message strip of a test
    SDL_Surface* background_ = nullptr;  // set while the help page lies under the status bar
    CRecorderView* view_ = nullptr;
    std::optional<support::SdlScreen> sdl_;
};

TEST_F(ScreenTest, ClockShowsTwelveHourTimeWithItsMark)
{
    const struct {
        int hour, minute;
        const char* clock;
        const char* mark;
    } cases[] = {
        {0, 5, "12:05", "AM"},   {1, 0, "01:00", "AM"},   {9, 41, "09:41", "AM"},
        {11, 59, "11:59", "AM"}, {12, 0, "12:00", "PM"},  {13, 7, "01:07", "PM"},
        {22, 38, "10:38", "PM"}, {23, 26, "11:26", "PM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hour << ":" << c.minute);
        SetClock(c.hour, c.minute);
        Draw();
        EXPECT_EQ(c.clock, ReadClock());
        EXPECT_EQ(c.mark, ReadAmPm());
    }
}

TEST_F(ScreenTest, CounterShowsHoursMinutesSecondsOrOnlyItsColons)
{
    const struct {
        int elapsed;
        const char* counter;
    } cases[] = {
        {0, "00:00:00"},      {59, "00:00:59"},     {3599, "00:59:59"},
        {3600, "01:00:00"},   {45296, "12:34:56"},  {216000, "60:00:00"},
        {359999, "99:59:59"}, {360000, "  :  :  "}, {-1, "  :  :  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "elapsed " << c.elapsed);
        view_->elapsed_sec = c.elapsed;
        Draw();
        EXPECT_EQ(c.counter, ReadCounter());
    }
}

TEST_F(ScreenTest, BatteryIconFollowsTheIndex)
{
    for (int index = 0; index <= 3; ++index) {
        SCOPED_TRACE(testing::Message() << "battery index " << index);
        sim::Handheld::Instance().SetBattery(index + 1);
        view_->battery_index = index;
        Draw();
        EXPECT_EQ('0' + index, ReadBattery());
    }
    // The last icon drawn is the fourth one, 23 pixels wide at x 248 of the skin.
    EXPECT_EQ(0, Differences(screen_, {293, 9, 23, 15}, skin_, 248, 247));
}

TEST_F(ScreenTest, HoldIconFollowsTheSwitch)
{
    for (bool on : {true, false, true}) {
        SCOPED_TRACE(on ? "HOLD on" : "HOLD off");
        sim::Handheld::Instance().SetHold(on);
        view_->hold_on = on;
        Draw();
        EXPECT_EQ(on ? 'H' : ' ', ReadHold());
    }
}

TEST_F(ScreenTest, ButtonsShowTheFaceOfTheirFrame)
{
    CMemButton* CRecorderView::*const play = &CRecorderView::play_button;
    CMemButton* CRecorderView::*const record = &CRecorderView::record_button;
    CMemButton* CRecorderView::*const list = &CRecorderView::list_button;
    const Area play_at = {74, 196, 56, 44}, record_at = {190, 196, 56, 44},
               list_at = {277, 196, 43, 44};
    const struct {
        const char* name;
        CMemButton* CRecorderView::*button;
        int frame;
        bool disabled;
        Area screen;
        int skin_x, skin_y;
    } cases[] = {
        {"play, normal", play, 0, false, play_at, 320, 44},
        {"play, pressed", play, 1, false, play_at, 376, 44},
        {"play, disabled", play, 0, true, play_at, 488, 44},
        {"play, disabled while pressed", play, 1, true, play_at, 488, 44},
        {"play, stop face", play, 4, false, play_at, 320, 132},
        {"record, normal", record, 0, false, record_at, 320, 176},
        {"record, disabled", record, 0, true, record_at, 488, 176},
        {"record, stop face disabled", record, 4, true, record_at, 488, 132},
        {"list, normal", list, 0, false, list_at, 320, 0},
        {"list, disabled", list, 0, true, list_at, 449, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (CMemButton* b : {view_->play_button, view_->record_button, view_->list_button}) {
            b->SetFrame(0);
            b->Enable();
        }
        CMemButton* button = view_->*c.button;
        button->SetFrame(c.frame);
        if (c.disabled)
            button->Disable();
        Draw();
        EXPECT_EQ(0, Differences(screen_, c.screen, skin_, c.skin_x, c.skin_y));
    }
}

TEST_F(ScreenTest, FileNameIsDrawnOverTheTopBandWhenThereIsOne)
{
    // The file name of a recording, as the font draws it at (32, 12).
    const char* name = "20240115103000.wav";
    SDL_Color black = {0, 0, 0, 0};
    SDL_Surface* text = TTF_RenderText_Solid(view_->font, name, black);
    ASSERT_NE(nullptr, text);
    const Area where = {32, 12, text->w, text->h};
    ASSERT_LT(where.x + where.w, 212) << "the name would reach the status bar";
    other_ = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 24, screen_->format->Rmask,
                                  screen_->format->Gmask, screen_->format->Bmask, 0);
    ASSERT_NE(nullptr, other_);
    SDL_Rect band = {0, 0, 320, 39};
    SDL_BlitSurface(skin_, &band, other_, nullptr);
    SDL_Rect at = {32, 12, 0, 0};
    SDL_BlitSurface(text, nullptr, other_, &at);
    SDL_FreeSurface(text);

    std::strcpy(view_->file_path, "/mnt/sd/music/rec/20240115103000.wav");
    Draw();
    EXPECT_EQ(0, Differences(screen_, where, other_, where.x, where.y));
    EXPECT_GT(Differences(screen_, where, skin_, where.x, where.y), 0) << "no text drawn";

    view_->file_path[0] = '\0';
    Draw();
    EXPECT_EQ(0, Differences(screen_, where, skin_, where.x, where.y + kTopBandShift));
}

TEST_F(ScreenTest, HelpPageHidesButtonsCounterAndMessage)
{
    other_ = IMG_Load("./res/app_rec_help.png");
    ASSERT_NE(nullptr, other_) << SDL_GetError();
    // Unless the help page differs from what it must hide, nothing is shown.
    ASSERT_GT(Differences(other_, {74, 196, 56, 44}, skin_, 320, 44), 0);
    ASSERT_GT(Differences(other_, {162, 81, 19, 43}, skin_, 320, 220), 0);

    view_->elapsed_sec = 3599;
    view_->msg_box->Show(2);
    SetClock(13, 7);
    view_->help_shown = true;
    Draw();
    background_ = other_;

    struct {
        const char* what;
        Area screen;
        int help_x, help_y;
    } const cases[] = {
        {"message box and counter", {11, 65, 298, 114}, 11, 65},
        {"play button", {74, 196, 56, 44}, 74, 196},
        {"record button", {190, 196, 56, 44}, 190, 196},
        {"list button, above the close button", {277, 196, 43, 8}, 277, 196},
        {"list button, right of the close button", {304, 196, 16, 44}, 304, 196},
        {"corner piece", {0, 0, 31, 33}, 274, 240},
        {"header piece", {31, 0, 58, 33}, 216, 240},
        {"close button, disabled face", {250, 204, 54, 33}, 162, 240},
    };
    for (const auto& c : cases)
        EXPECT_EQ(0, Differences(screen_, c.screen, other_, c.help_x, c.help_y)) << c.what;
    EXPECT_EQ("01:07", ReadClock());
    EXPECT_EQ("PM", ReadAmPm());
}

// One process per frame: a message that is on cannot be replaced.
class ScreenMessageTest : public ScreenTest, public ::testing::WithParamInterface<int> {};

TEST_P(ScreenMessageTest, FrameLiesOverTheCounter)
{
    const int k = GetParam();
    other_ = IMG_Load("./res/app_rec_error.png");
    ASSERT_NE(nullptr, other_) << SDL_GetError();
    ASSERT_GT(Differences(other_, {151, 16 + 114 * k, 126, 43}, skin_, 162, 81 + kMiddleBandShift),
              0)
        << "frame " << k << " looks like the band under the counter";

    view_->elapsed_sec = 3599;
    view_->msg_box->Show(k);
    Draw();
    EXPECT_EQ(0, Differences(screen_, {11, 65, 298, 114}, other_, 0, 114 * k));
    // It ends above the button row, where the band shows again.
    EXPECT_EQ(0, Differences(screen_, {11, 179, 298, 17}, skin_, 11, 179 + kMiddleBandShift));
}

INSTANTIATE_TEST_SUITE_P(EachFrame, ScreenMessageTest, ::testing::Range(0, 7));

// The images held in the screen's format show every frame as the images
// IMG_Load delivered do. Each kind of frame is drawn twice over the same
// pattern, once from each, and the two screens must be the same bytes.

void PutPixel(SDL_Surface* s, int x, int y, Uint32 pixel)
{
    Uint8* p = static_cast<Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
    std::memcpy(p, &pixel, s->format->BytesPerPixel);  // little-endian machine
}

// A copy of an RGB image in another layout, each pixel mapped by `pixel` from
// its colour and place; frees the RGB image.
SDL_Surface* Remade(SDL_Surface* rgb, SDL_Surface* layout,
                    const std::function<Uint32(Uint32 colour, int x, int y)>& pixel)
{
    if (!rgb || !layout)
        return nullptr;
    for (int y = 0; y < rgb->h; ++y)
        for (int x = 0; x < rgb->w; ++x)
            PutPixel(layout, x, y, pixel(Rgb(rgb, x, y), x, y));
    SDL_FreeSurface(rgb);
    return layout;
}

SDL_Surface* AsLoaded(SDL_Surface* image)
{
    return image;
}

// As IMG_Load gives a PNG with an alpha channel; the alpha runs through every
// value, 0 and 255 included.
SDL_Surface* WithAlpha(SDL_Surface* rgb)
{
    SDL_Surface* rgba =
        SDL_CreateRGBSurface(SDL_SWSURFACE, rgb->w, rgb->h, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    return Remade(rgb, rgba, [rgba](Uint32 c, int x, int y) {
        return SDL_MapRGBA(rgba->format, c >> 16, c >> 8 & 0xFF, c & 0xFF, (x * 5 + y * 3) % 256);
    });
}

// As IMG_Load gives a paletted PNG with one transparent entry: the colour key
// is entry 0, black, and the palette 3-3-2 bits of red, green and blue.
SDL_Surface* Paletted(SDL_Surface* rgb)
{
    SDL_Surface* indexed = SDL_CreateRGBSurface(SDL_SWSURFACE, rgb->w, rgb->h, 8, 0, 0, 0, 0);
    SDL_Color colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {static_cast<Uint8>((i >> 5) * 255 / 7),
                      static_cast<Uint8>((i >> 2 & 7) * 255 / 7),
                      static_cast<Uint8>((i & 3) * 255 / 3), 0};
    SDL_SetColors(indexed, colours, 0, 256);
    SDL_SetColorKey(indexed, SDL_SRCCOLORKEY, 0);
    return Remade(rgb, indexed, [](Uint32 c, int, int) {
        return (c >> 21 & 7) << 5 | (c >> 13 & 7) << 2 | (c >> 6 & 3);
    });
}

// The same, but the colour key is entry 1, made black as entry 0 is: the
// black that shows must not become transparent.
SDL_Surface* PalettedKeyColourTwice(SDL_Surface* rgb)
{
    SDL_Surface* indexed = Paletted(rgb);
    SDL_Color black = {0, 0, 0, 0};
    if (indexed) {
        SDL_SetColors(indexed, &black, 1, 1);
        SDL_SetColorKey(indexed, SDL_SRCCOLORKEY, 1);
    }
    return indexed;
}

enum class Held { kScreenFormat, kScreenFormatWithAlpha, kAsLoaded };

struct Look {
    const char* name;
    const char* language;
    SDL_Surface* (*variant)(SDL_Surface* loaded);
    Held held;
};

void PrintTo(const Look& look, std::ostream* out)
{
    *out << look.name;
}

const Look kLooks[] = {
    {"English", "en_US.utf8", AsLoaded, Held::kScreenFormat},
    {"Korean", "ko_KR.utf8", AsLoaded, Held::kScreenFormat},
    {"Chinese", "zh_CN.utf8", AsLoaded, Held::kScreenFormat},
    {"Japanese", "ja_JP.utf8", AsLoaded, Held::kScreenFormat},
    {"German", "de_DE.utf8", AsLoaded, Held::kScreenFormat},
    {"Spanish", "es_ES.utf8", AsLoaded, Held::kScreenFormat},
    {"French", "fr_FR.utf8", AsLoaded, Held::kScreenFormat},
    {"Italian", "it_IT.utf8", AsLoaded, Held::kScreenFormat},
    {"WithAlpha", "en_US.utf8", WithAlpha, Held::kScreenFormatWithAlpha},
    {"Paletted", "en_US.utf8", Paletted, Held::kScreenFormat},
    {"PalettedKeyColourTwice", "en_US.utf8", PalettedKeyColourTwice, Held::kAsLoaded},
};

// The skin, help page and message strip of one drawing.
struct Images {
    SDL_Surface* skin = nullptr;
    SDL_Surface* help = nullptr;
    SDL_Surface* messages = nullptr;
};

// One state of the view that a frame shows.
struct Frame {
    std::string name;
    std::function<void(CRecorderView&)> set;
};

std::vector<Frame> FrameKinds()
{
    std::vector<Frame> kinds = {{"idle", [](CRecorderView&) {}}};
    using Button = CMemButton* CRecorderView::*;
    const struct {
        const char* name;
        Button button;
        int frames;
    } buttons[] = {{"play", &CRecorderView::play_button, 8},
                   {"record", &CRecorderView::record_button, 8},
                   {"list", &CRecorderView::list_button, 4}};
    for (const auto& b : buttons)
        for (int frame = 0; frame < b.frames; ++frame)
            for (bool disabled : {false, true})
                kinds.push_back({std::string(b.name) + " frame " + std::to_string(frame) +
                                     (disabled ? " disabled" : ""),
                                 [b, frame, disabled](CRecorderView& view) {
                                     (view.*b.button)->frame = frame;
                                     if (disabled)
                                         (view.*b.button)->Disable();
                                 }});
    for (int k = 0; k < 7; ++k)
        kinds.push_back({"message " + std::to_string(k), [k](CRecorderView& view) {
                             view.msg_box->msg_index = k;
                             view.msg_box->visible = true;
                         }});
    for (bool enabled : {false, true})
        kinds.push_back({std::string("help, close button ") + (enabled ? "enabled" : "disabled"),
                         [enabled](CRecorderView& view) {
                             view.help_shown = true;
                             view.show_version = true;
                             if (enabled)
                                 view.help_close_button->Enable();
                         }});
    for (int index = 0; index <= 3; ++index)
        kinds.push_back({"battery " + std::to_string(index), [index](CRecorderView& view) {
                             sim::Handheld::Instance().SetBattery(index + 1);
                             view.battery_index = index;
                         }});
    for (bool help : {false, true})
        kinds.push_back(
            {std::string("HOLD") + (help ? " on the help page" : ""), [help](CRecorderView& view) {
                 sim::Handheld::Instance().SetHold(true);
                 view.hold_on = true;
                 view.help_shown = help;
             }});
    const struct {
        int hour, minute;
    } clocks[] = {{0, 5}, {8, 36}, {9, 41}, {12, 0}, {13, 7}, {23, 59}};
    for (const auto& c : clocks)
        kinds.push_back({"clock " + std::to_string(c.hour) + ":" + std::to_string(c.minute),
                         [c](CRecorderView& view) {
                             sim::Handheld::Instance().SetClock(LocalMinute(c.hour, c.minute));
                             view.clock_hour = c.hour;
                             view.clock_min = c.minute;
                         }});
    for (int elapsed : {45296, 29288, 287999, 360000})
        kinds.push_back({"counter " + std::to_string(elapsed),
                         [elapsed](CRecorderView& view) { view.elapsed_sec = elapsed; }});
    kinds.push_back({"file name and version", [](CRecorderView& view) {
                         std::strcpy(view.file_path, "/mnt/sd/music/rec/20240115103000.wav");
                         view.show_version = true;
                     }});
    return kinds;
}

class ScreenFormatTest : public ScreenTest, public ::testing::WithParamInterface<Look> {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        if (HasFatalFailure())
            return;
        own_ = {view_->skin, view_->help_image, view_->msg_box->image};
        const Look& look = GetParam();
        const char* paths[] = {"./res/app_rec.png",
                               CRecorderView::HelpImageForLanguage(look.language),
                               CRecorderView::MsgImageForLanguage(look.language)};
        SDL_Surface** loaded[] = {&loaded_.skin, &loaded_.help, &loaded_.messages};
        SDL_Surface** held[] = {&held_.skin, &held_.help, &held_.messages};
        for (int i = 0; i < 3; ++i) {
            *loaded[i] = look.variant(IMG_Load(paths[i]));
            SDL_Surface* copy = look.variant(IMG_Load(paths[i]));
            ASSERT_NE(nullptr, *loaded[i]) << paths[i];
            ASSERT_NE(nullptr, copy) << paths[i];
            *held[i] = ToScreenFormat(copy);
            if (look.held == Held::kAsLoaded)
                EXPECT_EQ(copy, *held[i]) << paths[i] << " was converted";
            else
                EXPECT_TRUE(InScreenFormat(*held[i], look.held == Held::kScreenFormatWithAlpha))
                    << paths[i] << " is not held in the screen's format";
        }
        std::strcpy(view_->language, look.language);
    }

    void TearDown() override
    {
        if (view_)
            Use(own_);
        for (const Images& images : {loaded_, held_})
            for (SDL_Surface* image : {images.skin, images.help, images.messages})
                if (image)
                    SDL_FreeSurface(image);
        ScreenTest::TearDown();
    }

    bool InScreenFormat(const SDL_Surface* image, bool alpha) const
    {
        const SDL_PixelFormat* f = image->format;
        const SDL_PixelFormat* screen = screen_->format;
        return f->Rmask == screen->Rmask && f->Gmask == screen->Gmask &&
               f->Bmask == screen->Bmask &&
               (alpha ? f->BytesPerPixel == 4 && f->Amask != 0 && (image->flags & SDL_SRCALPHA)
                      : f->BytesPerPixel == screen->BytesPerPixel && f->Amask == 0);
    }

    void Use(const Images& images)
    {
        view_->skin = images.skin;
        view_->help_image = images.help;
        view_->msg_box->image = images.messages;
        for (CMemButton* button : {view_->play_button, view_->record_button, view_->list_button})
            button->surface = images.skin;
        view_->help_close_button->surface = images.help;
    }

    // The state of a fresh view, with the handheld saying the same.
    void Reset()
    {
        for (CMemButton* button : {view_->play_button, view_->record_button, view_->list_button}) {
            button->frame = 0;
            button->Enable();
        }
        view_->help_close_button->Disable();
        view_->msg_box->visible = false;
        view_->help_shown = false;
        view_->show_version = false;
        view_->file_path[0] = '\0';
        view_->elapsed_sec = 0;
        sim::Handheld::Instance().SetHold(false);
        view_->hold_on = false;
        sim::Handheld::Instance().SetBattery(1);
        view_->battery_index = 0;
        SetClock(10, 30);
    }

    // The screen drawn from these images over a pattern, as its bytes: alpha
    // and the colour key let the pattern through.
    std::vector<Uint8> DrawnFrom(const Images& images)
    {
        Use(images);
        for (int y = 0; y < screen_->h; ++y)
            for (int x = 0; x < screen_->w; ++x)
                PutPixel(screen_, x, y, SDL_MapRGB(screen_->format, x * 4, y * 5, (x ^ y) * 3));
        Draw();
        const Uint8* pixels = static_cast<const Uint8*>(screen_->pixels);
        return std::vector<Uint8>(pixels, pixels + screen_->pitch * screen_->h);
    }

    Images own_;     // the view's own, given back before it goes
    Images loaded_;  // as IMG_Load delivers them, in this look
    Images held_;    // the same through ToScreenFormat
};

TEST_P(ScreenFormatTest, EveryFrameShowsWhatTheLoadedImagesShow)
{
    const int bpp = screen_->format->BytesPerPixel;
    for (const Frame& kind : FrameKinds()) {
        SCOPED_TRACE(kind.name);
        Reset();
        kind.set(*view_);
        const std::vector<Uint8> held = DrawnFrom(held_);
        const std::vector<Uint8> loaded = DrawnFrom(loaded_);
        ASSERT_EQ(held.size(), loaded.size());
        int differing = 0;
        size_t first = 0;
        for (size_t at = 0; at < held.size(); at += bpp)
            if (std::memcmp(&held[at], &loaded[at], bpp) != 0 && differing++ == 0)
                first = at;
        EXPECT_EQ(0, differing) << "pixels differ, the first at x " << first % screen_->pitch / bpp
                                << ", y " << first / screen_->pitch;
    }
}

INSTANTIATE_TEST_SUITE_P(EachLook, ScreenFormatTest, ::testing::ValuesIn(kLooks),
                         [](const ::testing::TestParamInfo<Look>& info) {
                             return info.param.name;
                         });

// Before the video mode is set there is no screen format to convert to.
TEST(ScreenFormat, WithoutAVideoModeTheImageStaysAsLoaded)
{
    ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
    SDL_Surface* loaded = IMG_Load("./res/app_rec.png");
    ASSERT_NE(nullptr, loaded) << SDL_GetError();
    EXPECT_EQ(loaded, ToScreenFormat(loaded));
    EXPECT_EQ(nullptr, ToScreenFormat(nullptr));
    SDL_FreeSurface(loaded);
    SDL_Quit();
}

}  // namespace
