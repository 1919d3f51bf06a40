// The recorder view as an object: what Initialize creates and what each of its
// failures leaves behind, which images the language chooses, that a second
// Initialize creates nothing twice, that every resource is released once, and
// what the device queries read from the handheld.

#include "view/recorderview.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include "sim/handheld.h"
#include "sim/sdlext_sim.h"
#include "tests/support/bench.h"
#include "tests/support/wait.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSettingsFile[] = "/mnt/ubifs/usr/orvo/common.ini";
constexpr char kFontFile[] = "/usr/orvo/HYUni_ZEM_B.ttf";

std::string OnHandheld(const char* path)
{
    return sim::Handheld::Instance().Root() + path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

Uint32 Rgb(SDL_Surface* s, int x, int y)
{
    const Uint8* p =
        static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
    Uint32 raw = 0;
    std::memcpy(&raw, p, s->format->BytesPerPixel);  // little-endian machine
    Uint8 r, g, b;
    SDL_GetRGB(raw, s->format, &r, &g, &b);
    return static_cast<Uint32>(r << 16 | g << 8 | b);
}

// Same size and the same colour at every pixel.
bool SameImage(SDL_Surface* a, SDL_Surface* b)
{
    if (!a || !b || a->w != b->w || a->h != b->h)
        return false;
    for (int y = 0; y < a->h; ++y)
        for (int x = 0; x < a->w; ++x)
            if (Rgb(a, x, y) != Rgb(b, x, y))
                return false;
    return true;
}

bool SameImageAsFile(SDL_Surface* image, const char* path)
{
    SDL_Surface* file = IMG_Load(path);
    const bool same = SameImage(image, file);
    if (file)
        SDL_FreeSurface(file);
    return same;
}

::testing::AssertionResult IsRect(const SDL_Rect& r, int x, int y, int w, int h)
{
    if (r.x == x && r.y == y && r.w == w && r.h == h)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << r.x << ", " << r.y << ", " << r.w << ", " << r.h << ")";
}

class RecorderViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home_ = fs::current_path();
        settings_ = OnHandheld(kSettingsFile);
        font_ = OnHandheld(kFontFile);
        ASSERT_TRUE(fs::exists(settings_));
        ASSERT_TRUE(fs::exists(font_));
        saved_settings_ = ReadFile(settings_);
        sim::Handheld& machine = sim::Handheld::Instance();
        machine.SetCard(sim::CardState::kIn);
        machine.SetHold(false);
        machine.SetBattery(1);
        sdl_.emplace();
        ASSERT_EQ(sdl_->error(), "");
    }

    void TearDown() override
    {
        DropView();
        // Put the handheld back as it was for the next test in this process.
        fs::current_path(home_);
        if (!scratch_.empty())
            fs::remove_all(scratch_);
        WriteFile(settings_, saved_settings_);
        if (fs::exists(font_ + ".away"))
            fs::rename(font_ + ".away", font_);
        while (TTF_WasInit())
            TTF_Quit();
        sdl_.reset();
    }

    CRecorderView& NewView()
    {
        DropView();
        view_ = new CRecorderView;
        return *view_;
    }

    void DropView()
    {
        if (!view_)
            return;
        view_->ExitInstance();
        delete view_;
        view_ = nullptr;
    }

    // Works on from a folder whose ./res holds every image but `file`.
    void UseResourcesWithout(const char* file)
    {
        std::string pattern = ::testing::TempDir() + "recorderview-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        scratch_ = pattern;
        fs::create_directory(scratch_ / "res");
        for (const fs::directory_entry& entry : fs::directory_iterator(home_ / "res"))
            if (entry.path().filename() != file)
                fs::create_symlink(entry.path(), scratch_ / "res" / entry.path().filename());
        fs::current_path(scratch_);
    }

    void HideFont() { fs::rename(font_, font_ + ".away"); }

    void SetLanguageLine(const std::string& text) { WriteFile(settings_, text); }

    fs::path home_;
    fs::path scratch_;
    std::string settings_;
    std::string saved_settings_;
    std::string font_;
    std::optional<support::SdlScreen> sdl_;
    CRecorderView* view_ = nullptr;
};

TEST_F(RecorderViewTest, InitializeSetsUpEveryResource)
{
    CRecorderView& view = NewView();
    ASSERT_EQ(1, view.Initialize());
    EXPECT_NE(-1, view.gpio_fd);
    EXPECT_NE(nullptr, view.status_timer);
    EXPECT_TRUE(SameImageAsFile(view.skin, "./res/app_rec.png"));
    EXPECT_TRUE(SameImageAsFile(view.help_image, "./res/app_rec_help.png"));
    EXPECT_STREQ("en_US.utf8", view.language);
    EXPECT_NE(nullptr, view.wav);
    EXPECT_NE(nullptr, view.font);

    const struct {
        const char* name;
        CMemButton* button;
        SDL_Surface* image;
        int states, x, y, w, h;
        bool enabled;
    } buttons[] = {
        {"play", view.play_button, view.skin, 2, 74, 196, 56, 44, true},
        {"record", view.record_button, view.skin, 2, 190, 196, 56, 44, true},
        {"list", view.list_button, view.skin, 1, 277, 196, 43, 44, true},
        {"help close", view.help_close_button, view.help_image, 1, 250, 204, 54, 33, false},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.name);
        ASSERT_NE(nullptr, b.button);
        EXPECT_EQ(b.image, b.button->surface);
        EXPECT_EQ(b.states, b.button->state_count);
        EXPECT_TRUE(IsRect(b.button->screen_rect, b.x, b.y, b.w, b.h));
        EXPECT_EQ(b.enabled, b.button->IsEnabled() == 1);
        EXPECT_EQ(0, b.button->GetState());
    }
    EXPECT_TRUE(IsRect(view.play_button->strips[1], 320, 132, 224, 44));
    EXPECT_TRUE(IsRect(view.record_button->strips[0], 320, 176, 224, 44));

    ASSERT_NE(nullptr, view.msg_box);
    EXPECT_TRUE(SameImageAsFile(view.msg_box->image, "./res/app_rec_error.png"));
    EXPECT_EQ(7, view.msg_box->frame_count);
    EXPECT_EQ(3, view.msg_box->duration);
    EXPECT_FALSE(view.msg_box->visible);
}

// What one Initialize failure leaves behind.
struct InitFailure {
    const char* name;
    const char* missing_image;  // a file of ./res that is not there
    bool empty_skin;            // the skin is already held, and has no pixels
    bool missing_font;
    int result;
    bool skin, layout, help_image;
    int buttons_made;     // play, record, list, help close: how many exist
    int buttons_created;  // and how many of those got their strips
    bool msg_box, msg_image, wav, font;
};

const InitFailure kInitFailures[] = {
    {"SkinMissing", "app_rec.png", false, false, -1,  //
     false, false, false, 0, 0, false, false, false, false},
    {"HelpPageMissing", "app_rec_help.png", false, false, -1,  //
     true, true, false, 0, 0, false, false, false, false},
    {"SkinWithoutPixels", nullptr, true, false, -2,  //
     true, true, true, 1, 0, false, false, false, false},
    {"MessageStripMissing", "app_rec_error.png", false, false, -2,  //
     true, true, true, 4, 4, true, false, false, false},
    {"FontMissing", nullptr, false, true, -3,  //
     true, true, true, 4, 4, true, true, true, false},
};

void PrintTo(const InitFailure& c, std::ostream* out)
{
    *out << c.name;
}

class RecorderViewInitFailureTest : public RecorderViewTest,
                                    public ::testing::WithParamInterface<InitFailure> {};

TEST_P(RecorderViewInitFailureTest, ReportsItAndKeepsWhatWasMade)
{
    const InitFailure& c = GetParam();
    if (c.missing_image)
        UseResourcesWithout(c.missing_image);
    if (c.missing_font)
        HideFont();
    CRecorderView& view = NewView();
    if (c.empty_skin) {
        view.skin = SDL_CreateRGBSurface(SDL_SWSURFACE, 0, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0);
        ASSERT_NE(nullptr, view.skin) << SDL_GetError();
    }

    EXPECT_EQ(c.result, view.Initialize());

    // Whatever failed, the devices and the status timer come first.
    EXPECT_NE(-1, view.gpio_fd);
    EXPECT_NE(nullptr, view.status_timer);
    EXPECT_EQ(c.skin, view.skin != nullptr);
    EXPECT_EQ(c.layout, IsRect(view.rects[layout::play_button_strip], 320, 44, 224, 44));
    EXPECT_EQ(c.help_image, view.help_image != nullptr);
    int made = 0, created = 0;
    for (CMemButton* b :
         {view.play_button, view.record_button, view.list_button, view.help_close_button}) {
        made += b != nullptr;
        created += b && b->state_count > 0;
    }
    EXPECT_EQ(c.buttons_made, made);
    EXPECT_EQ(c.buttons_created, created);
    EXPECT_EQ(c.msg_box, view.msg_box != nullptr);
    EXPECT_EQ(c.msg_image, view.msg_box && view.msg_box->image);
    EXPECT_EQ(c.wav, view.wav != nullptr);
    EXPECT_EQ(c.font, view.font != nullptr);

    // Only a missing font says so on the screen, with message 5.
    const bool message_on = view.msg_box && view.msg_box->visible;
    EXPECT_EQ(c.missing_font, message_on);
    if (c.missing_font) {
        EXPECT_EQ(5, view.msg_box->msg_index);
        EXPECT_NE(nullptr, view.msg_box->timer_id.load());
    }

    // The application goes on; without a skin it shows no recorder screen.
    SDL_Surface* screen = SDL_GetVideoSurface();
    const Uint32 marker = SDL_MapRGB(screen->format, 255, 0, 255);
    SDL_FillRect(screen, nullptr, marker);
    view.DrawScreen(screen);
    int marked = 0;
    for (int y = 0; y < screen->h; ++y)
        for (int x = 0; x < screen->w; ++x)
            marked += Rgb(screen, x, y) == 0xFF00FF;
    if (c.skin && !c.empty_skin)
        EXPECT_LT(marked, 320 * 240);
    else
        EXPECT_EQ(320 * 240, marked);
}

INSTANTIATE_TEST_SUITE_P(Each, RecorderViewInitFailureTest, ::testing::ValuesIn(kInitFailures),
                         [](const ::testing::TestParamInfo<InitFailure>& info) {
                             return std::string(info.param.name);
                         });

// The list and help-close buttons cannot be done without: the recorder ends.
TEST(RecorderViewDeathTest, ListOrHelpCloseButtonFailingEndsWithStatus3)
{
    const auto empty = [] {
        return SDL_CreateRGBSurface(SDL_SWSURFACE, 0, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    };
    // SDL starts in the child only, so that no SDL thread sees the fork.
    EXPECT_EXIT(
        {
            SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER);
            CRecorderView view;
            view.help_image = empty();
            view.Initialize();
        },
        ::testing::ExitedWithCode(3), "")
        << "help page without pixels";
    EXPECT_EXIT(
        {
            SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER);
            CRecorderView view;
            view.skin = empty();
            view.play_button = new CMemButton;
            view.record_button = new CMemButton;
            view.Initialize();
        },
        ::testing::ExitedWithCode(3), "")
        << "skin without pixels, play and record buttons already there";
}

TEST(RecorderViewLanguageTest, ImagesFollowTheFirstLocaleTheLanguageContains)
{
    const struct {
        const char* language;
        const char* help;
        const char* messages;
    } cases[] = {
        {"en_US.utf8", "./res/app_rec_help.png", "./res/app_rec_error.png"},
        {"ko_KR.utf8", "./res/app_rec_help_kor.png", "./res/app_rec_error_kor.png"},
        {"zh_CN.utf8", "./res/app_rec_help_chn.png", "./res/app_rec_error_chn.png"},
        {"ja_JP.utf8", "./res/app_rec_help_jpn.png", "./res/app_rec_error_jpn.png"},
        {"de_DE.utf8", "./res/app_rec_help_ger.png", "./res/app_rec_error_ger.png"},
        {"es_ES.utf8", "./res/app_rec_help_esp.png", "./res/app_rec_error_esp.png"},
        {"fr_FR.utf8", "./res/app_rec_help_fra.png", "./res/app_rec_error_fra.png"},
        {"it_IT.utf8", "./res/app_rec_help_ita.png", "./res/app_rec_error_ita.png"},
        {"pt_BR.utf8", "./res/app_rec_help.png", "./res/app_rec_error.png"},
        {"", "./res/app_rec_help.png", "./res/app_rec_error.png"},
        {"de_DE", "./res/app_rec_help.png", "./res/app_rec_error.png"},
        {"x.fr_FR.utf8@y", "./res/app_rec_help_fra.png", "./res/app_rec_error_fra.png"},
        {"ja_JP.utf8de_DE.utf8", "./res/app_rec_help_jpn.png", "./res/app_rec_error_jpn.png"},
        {"it_IT.utf8en_US.utf8", "./res/app_rec_help.png", "./res/app_rec_error.png"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.help, CRecorderView::HelpImageForLanguage(c.language)) << c.language;
        EXPECT_STREQ(c.messages, CRecorderView::MsgImageForLanguage(c.language)) << c.language;
    }
}

TEST_F(RecorderViewTest, LanguageComesFromTheSettingsAndChoosesTheImages)
{
    const struct {
        const char* settings;  // null: no settings file
        const char* language;
        const char* help;
        const char* messages;
    } cases[] = {
        {"[main]\nlanguage=de_DE.utf8\n", "de_DE.utf8", "./res/app_rec_help_ger.png",
         "./res/app_rec_error_ger.png"},
        {"[main]\nlanguage=pt_PT.utf8\n", "pt_PT.utf8", "./res/app_rec_help.png",
         "./res/app_rec_error.png"},
        {"[main]\nlanguage=C/en_US.utf8\n", "C/en_US.utf8", "./res/app_rec_help.png",
         "./res/app_rec_error.png"},
        {"[main]\nlanguage=ko_KR.utf8\n", "ko_KR.utf8", "./res/app_rec_help_kor.png",
         "./res/app_rec_error_kor.png"},
        {"[main]\nregion=KR\n", "en_US.utf8", "./res/app_rec_help.png", "./res/app_rec_error.png"},
        {"[other]\nlanguage=de_DE.utf8\n", "en_US.utf8", "./res/app_rec_help.png",
         "./res/app_rec_error.png"},
        {nullptr, "en_US.utf8", "./res/app_rec_help.png", "./res/app_rec_error.png"},
        // Cut to 15 characters before the images are chosen.
        {"[main]\nlanguage=it_IT.utf8@euro+more\n", "it_IT.utf8@euro", "./res/app_rec_help_ita.png",
         "./res/app_rec_error_ita.png"},
        {"[main]\nlanguage=fr_FR.utf8/en_US.utf8\n", "fr_FR.utf8/en_U",
         "./res/app_rec_help_fra.png", "./res/app_rec_error_fra.png"},
    };
    SDL_Surface* english_help = IMG_Load("./res/app_rec_help.png");
    SDL_Surface* english_messages = IMG_Load("./res/app_rec_error.png");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings ? c.settings : "(no settings file)");
        if (c.settings)
            SetLanguageLine(c.settings);
        else
            fs::remove(settings_);
        if (std::strcmp(c.help, "./res/app_rec_help.png") != 0) {
            // Otherwise a wrong choice could not be seen.
            ASSERT_FALSE(SameImageAsFile(english_help, c.help));
            ASSERT_FALSE(SameImageAsFile(english_messages, c.messages));
        }
        CRecorderView& view = NewView();
        EXPECT_EQ(1, view.Initialize());
        EXPECT_STREQ(c.language, view.language);
        EXPECT_TRUE(SameImageAsFile(view.help_image, c.help));
        ASSERT_NE(nullptr, view.msg_box);
        EXPECT_TRUE(SameImageAsFile(view.msg_box->image, c.messages));
        DropView();
    }
    SDL_FreeSurface(english_help);
    SDL_FreeSurface(english_messages);
}

TEST_F(RecorderViewTest, SecondInitializeCreatesNothingTwice)
{
    CRecorderView& view = NewView();
    ASSERT_EQ(1, view.Initialize());
    const int dev_inits = sim::DevIfInitCalls();
    const int gpio = view.gpio_fd;
    const SDL_TimerID timer = view.status_timer;
    SDL_Surface* const skin = view.skin;
    SDL_Surface* const help = view.help_image;
    CMemButton* const buttons[] = {view.play_button, view.record_button, view.list_button,
                                   view.help_close_button};
    CMsgBox* const msg_box = view.msg_box;
    SDL_Surface* const messages = view.msg_box->image;
    CWavRecord* const wav = view.wav;

    // The second call fills the table and reads the language again.
    std::memset(view.rects, 0, sizeof view.rects);
    SetLanguageLine("[main]\nlanguage=de_DE.utf8\n");

    ASSERT_EQ(1, view.Initialize());
    EXPECT_EQ(gpio, view.gpio_fd);
    EXPECT_EQ(timer, view.status_timer);
    EXPECT_EQ(skin, view.skin);
    EXPECT_EQ(help, view.help_image);
    EXPECT_EQ(buttons[0], view.play_button);
    EXPECT_EQ(buttons[1], view.record_button);
    EXPECT_EQ(buttons[2], view.list_button);
    EXPECT_EQ(buttons[3], view.help_close_button);
    EXPECT_EQ(msg_box, view.msg_box);
    EXPECT_EQ(messages, view.msg_box->image);
    EXPECT_EQ(wav, view.wav);
    EXPECT_EQ(dev_inits, sim::DevIfInitCalls());
    EXPECT_NE(nullptr, view.font);
    EXPECT_STREQ("de_DE.utf8", view.language);
    EXPECT_TRUE(SameImageAsFile(view.help_image, "./res/app_rec_help.png"));
    CRecorderView fresh;
    fresh.InitLayout();
    EXPECT_EQ(0, std::memcmp(fresh.rects, view.rects, sizeof view.rects));
}

TEST_F(RecorderViewTest, InitializeAfterAFailureMakesOnlyWhatIsMissing)
{
    UseResourcesWithout("app_rec_help.png");
    CRecorderView& view = NewView();
    ASSERT_EQ(-1, view.Initialize());
    SDL_Surface* const skin = view.skin;
    const SDL_TimerID timer = view.status_timer;
    ASSERT_NE(nullptr, skin);

    fs::current_path(home_);
    EXPECT_EQ(1, view.Initialize());
    EXPECT_EQ(skin, view.skin);
    EXPECT_EQ(timer, view.status_timer);
    EXPECT_NE(nullptr, view.help_image);
    EXPECT_NE(nullptr, view.help_close_button);
    EXPECT_NE(nullptr, view.wav);
    EXPECT_NE(nullptr, view.font);
}

TEST_F(RecorderViewTest, ExitInstanceThenDestructorReleaseEachResourceOnce)
{
    sim::Handheld& machine = sim::Handheld::Instance();
    machine.SetClock(std::time(nullptr) / 3600 * 3600 + 600);  // hh:10:00
    const int quits = sim::DevIfQuitCalls();
    CRecorderView& view = NewView();
    ASSERT_EQ(1, view.Initialize());
    const int gpio = view.gpio_fd;
    ASSERT_GE(gpio, 0);

    // The status timer runs: a new minute on the handheld reaches the view.
    const int minute = view.clock_min;
    machine.SetClock(machine.Now() + 120);
    ASSERT_TRUE(support::Eventually([&] { return view.clock_min != minute; }))
        << "the status timer never ticked";

    view.ExitInstance();
    EXPECT_EQ(-1, view.gpio_fd);
    errno = 0;
    EXPECT_EQ(-1, fcntl(gpio, F_GETFD)) << "the GPIO descriptor is still open";
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(nullptr, view.status_timer);
    EXPECT_EQ(nullptr, view.wav);
    EXPECT_EQ(nullptr, view.font);
    EXPECT_EQ(0, TTF_WasInit()) << "a font was held, so SDL_ttf is shut down";
    EXPECT_EQ(nullptr, view.skin);
    EXPECT_EQ(nullptr, view.help_image);
    EXPECT_EQ(nullptr, view.play_button);
    EXPECT_EQ(nullptr, view.record_button);
    EXPECT_EQ(nullptr, view.list_button);
    EXPECT_EQ(nullptr, view.help_close_button);
    EXPECT_EQ(nullptr, view.msg_box);
    EXPECT_EQ(quits + 1, sim::DevIfQuitCalls());

    // And it has stopped: the next minutes pass unseen.
    const int stopped_at = view.clock_min;
    machine.SetClock(machine.Now() + 120);
    // Two ticks of a timer of a second on SDL's timer thread, where the
    // status timer ran: it would have ticked meanwhile.
    static std::atomic<int> ticks{0};
    ticks = 0;
    const SDL_TimerID witness = SDL_AddTimer(
        1000, [](Uint32 interval, void*) -> Uint32 { return ++ticks, interval; }, nullptr);
    ASSERT_NE(nullptr, witness);
    EXPECT_TRUE(support::Eventually([] { return ticks >= 2; }));
    SDL_RemoveTimer(witness);
    EXPECT_EQ(stopped_at, view.clock_min);

    delete view_;
    view_ = nullptr;
    EXPECT_EQ(quits + 2, sim::DevIfQuitCalls());
}

TEST_F(RecorderViewTest, ReleaseMayRunAgainAndAfterAFailedInitialize)
{
    const int quits = sim::DevIfQuitCalls();
    HideFont();
    CRecorderView& view = NewView();
    ASSERT_EQ(-3, view.Initialize());
    ASSERT_NE(0, TTF_WasInit());
    view.ExitInstance();
    view.ExitInstance();
    EXPECT_EQ(nullptr, view.msg_box);
    EXPECT_EQ(nullptr, view.play_button);
    EXPECT_EQ(nullptr, view.wav);
    EXPECT_EQ(-1, view.gpio_fd);
    // No font was held: SDL_ttf stays up, as Initialize left it.
    EXPECT_NE(0, TTF_WasInit());
    delete view_;
    view_ = nullptr;
    EXPECT_EQ(quits + 3, sim::DevIfQuitCalls());
}

TEST_F(RecorderViewTest, DeviceQueriesReadTheGpioDriver)
{
    const struct {
        sim::CardState card;
        bool hold;
        int sd_absent;
        bool hold_on;
    } cases[] = {
        {sim::CardState::kIn, false, 0, false},     {sim::CardState::kOut, false, 1, false},
        {sim::CardState::kLocked, false, 0, false}, {sim::CardState::kIn, true, 0, true},
        {sim::CardState::kOut, true, 1, true},
    };
    sim::Handheld& machine = sim::Handheld::Instance();
    CRecorderView& view = NewView();
    // Before the driver is open the card counts as present and HOLD as off.
    machine.SetCard(sim::CardState::kOut);
    machine.SetHold(true);
    EXPECT_EQ(0, view.QuerySdAbsent());
    EXPECT_EQ(0, view.QueryHold());

    ASSERT_EQ(1, view.Initialize());
    ASSERT_NE(-1, view.gpio_fd);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "card " << static_cast<int>(c.card) << ", HOLD " << c.hold);
        machine.SetCard(c.card);
        machine.SetHold(c.hold);
        EXPECT_EQ(c.sd_absent, view.QuerySdAbsent());
        EXPECT_EQ(c.hold_on, view.QueryHold() != 0);
    }
    machine.SetCard(sim::CardState::kIn);
    machine.SetHold(false);
}

TEST_F(RecorderViewTest, BatteryLevelIsClampedToOneToFour)
{
    const struct {
        int platform_level, level;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 4}, {7, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "platform level " << c.platform_level);
        sim::Handheld::Instance().SetBattery(c.platform_level);
        EXPECT_EQ(c.level, CRecorderView::QueryBatteryLevel());
        CRecorderView& view = NewView();
        EXPECT_EQ(c.level - 1, view.battery_index);
    }
}

}  // namespace
