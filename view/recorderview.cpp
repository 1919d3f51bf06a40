#include "view/recorderview.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/budget.h"
#include "app/logmessage.h"
#include "app/mainmenuapp.h"
#include "audio/wavrecord.h"
#include "platform/gpio.h"
#include "platform/ini.h"
#include "platform/sdlext.h"
#include "platform/sys.h"
#include "ui/image.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recordfiles.h"

namespace {

constexpr const char* kUnit = "recorderview.cpp";

struct tm LocalTime(time_t when)
{
    struct tm local {};
    localtime_r(&when, &local);
    return local;
}

template <class T>
void Delete(T*& object)
{
    delete object;
    object = nullptr;
}

}  // namespace

CRecorderView::CRecorderView()
{
    LogMessage(kUnit, __LINE__, "CRecorderView()\n");
    const struct tm local = LocalTime(sys::time(nullptr));
    clock_hour = local.tm_hour;
    clock_min = local.tm_min;
    SDL_KelDevIfInit(1);
    battery_index = QueryBatteryLevel() - 1;
}

CRecorderView::~CRecorderView()
{
    Release();
    LogMessage(kUnit, __LINE__, "~CRecorderView()\n");
}

int CRecorderView::Initialize()
{
    LogMessage(kUnit, __LINE__, "CRecorderView::Initialize()\n");
    if (gpio_fd == -1) {
        gpio_fd = sys::open(gpio::kDevice, O_RDONLY | O_CLOEXEC);
        if (gpio_fd < 0) {
            gpio_fd = -1;
            LogMessage(kUnit, __LINE__, "GPIO_DEV open failed.\n");
        } else {
            gpio_held_.reset(new int(gpio_fd), [](const int* fd) {
                sys::close(*fd);
                delete fd;
            });
        }
    }
    std::unique_lock<std::mutex> hold = HoldStatusMonitor();
    StartStatusTimer();
    return InitializeResources(hold);
}

int CRecorderView::InitializeResources(std::unique_lock<std::mutex>& hold)
{
    if (!skin) {
        skin = LoadScreenImage("./res/app_rec.png");
        if (!skin) {
            LogMessage(kUnit, __LINE__, "Not found image. %s\n", SDL_GetError());
            return -1;
        }
    }
    InitLayout();
    ReadLanguage();
    if (!help_image) {
        help_image = LoadScreenImage(HelpImageForLanguage(language));
        if (!help_image) {
            LogMessage(kUnit, __LINE__, "Not found image. %s\n", SDL_GetError());
            return -1;
        }
    }
    if (!play_button) {
        play_button = new CMemButton();
        if (!play_button->Create(skin, rects[layout::play_button_strip],
                                 rects[layout::stop_button_strip])) {
            LogMessage(kUnit, __LINE__, "Error = %s\n", SDL_GetError());
            return -2;
        }
        play_button->SetPosition(74, 196);
    }
    if (!record_button) {
        record_button = new CMemButton();
        if (!record_button->Create(skin, rects[layout::record_button_strip],
                                   rects[layout::stop_button_strip])) {
            LogMessage(kUnit, __LINE__, "Error = %s\n", SDL_GetError());
            return -2;
        }
        record_button->SetPosition(190, 196);
    }
    if (!list_button) {
        list_button = new CMemButton();
        if (!list_button->Create(skin, rects[layout::list_button_strip])) {
            LogMessage(kUnit, __LINE__, "Error = %s\n", SDL_GetError());
            hold.unlock();
            std::exit(3);
        }
        list_button->SetPosition(277, 196);
    }
    if (!help_close_button) {
        help_close_button = new CMemButton();
        if (!help_close_button->Create(help_image, rects[layout::help_close_strip])) {
            LogMessage(kUnit, __LINE__, "Error = %s\n", SDL_GetError());
            hold.unlock();
            std::exit(3);
        }
        help_close_button->SetPosition(250, 204);
        help_close_button->Disable();
    }
    if (!msg_box) {
        msg_box = new CMsgBox();
        if (!msg_box->LoadImage(MsgImageForLanguage(language), 7)) {
            LogMessage(kUnit, __LINE__, "Error = %s\n", SDL_GetError());
            return -2;
        }
        msg_box->SetDuration(3);
    }
    if (!wav) {
        wav = new CWavRecord();
        wav->set_leave(run.Leave());
        // One thread works on the card, for the view and the stream alike.
        wav->set_card(&card_chores);
    }
    // A recording too long for one file goes on in a file named as a new
    // recording started at that moment would be.
    wav->set_next_path([] {
        char path[sizeof(CRecorderView::file_path)];
        NameNewRecording(path, sizeof path);
        return std::string(path);
    });
    TTF_Init();
    if (!LoadFont("/usr/orvo/HYUni_ZEM_B.ttf", 12)) {
        if (msg_box)
            msg_box->Show(MSG_NO_FONT);
        return -3;
    }
    TTF_SetFontStyle(font, TTF_STYLE_NORMAL);
    return 1;
}

void CRecorderView::ReadLanguage()
{
    INI_Open("/mnt/ubifs/usr/orvo/common.ini");
    // The field holds 15 characters; a longer setting is cut to fit.
    std::snprintf(language, sizeof language, "%s", INI_ReadText("main", "language", "en_US.utf8"));
    INI_Close();
    LogMessage(kUnit, __LINE__, "Langage = %s\n", language);
}

namespace {

struct LanguageImages {
    const char* locale;
    const char* help;
    const char* messages;
};

// The first locale that the setting contains wins; the last row serves every
// other setting.
const LanguageImages kLanguageImages[] = {
    {"en_US.utf8", "./res/app_rec_help.png", "./res/app_rec_error.png"},
    {"ko_KR.utf8", "./res/app_rec_help_kor.png", "./res/app_rec_error_kor.png"},
    {"zh_CN.utf8", "./res/app_rec_help_chn.png", "./res/app_rec_error_chn.png"},
    {"ja_JP.utf8", "./res/app_rec_help_jpn.png", "./res/app_rec_error_jpn.png"},
    {"de_DE.utf8", "./res/app_rec_help_ger.png", "./res/app_rec_error_ger.png"},
    {"es_ES.utf8", "./res/app_rec_help_esp.png", "./res/app_rec_error_esp.png"},
    {"fr_FR.utf8", "./res/app_rec_help_fra.png", "./res/app_rec_error_fra.png"},
    {"it_IT.utf8", "./res/app_rec_help_ita.png", "./res/app_rec_error_ita.png"},
    {"", "./res/app_rec_help.png", "./res/app_rec_error.png"},
};

const LanguageImages& ImagesFor(const char* language)
{
    for (const LanguageImages& row : kLanguageImages)
        if (std::strstr(language, row.locale))
            return row;
    return kLanguageImages[0];
}

}  // namespace

const char* CRecorderView::HelpImageForLanguage(const char* language)
{
    return ImagesFor(language).help;
}

const char* CRecorderView::MsgImageForLanguage(const char* language)
{
    return ImagesFor(language).messages;
}

void CRecorderView::ExitInstance()
{
    Release();
    LogMessage(kUnit, __LINE__, "CRecorderView()::ExitInstance()\n");
}

void CRecorderView::Release()
{
    // The event loop has ended: nobody draws any more, so nobody may wait
    // for a draw, from now on.
    run.ReleaseDrawWaitsForGood();
    StopStatusTimer();
    run.StopWorkers();
    // Closed on the card's thread, or by a tick still in the driver once it
    // lets go: a driver's close may hang, and the main thread must not.
    if (gpio_held_)
        card_chores.Post([gpio = std::move(gpio_held_)]() mutable { gpio.reset(); });
    // A removal asked for should reach the card; a stalled card is left to
    // the chores' thread.
    card_chores.Idle(run.LeaveWithin(budget::kLeave));
    // A worker held by a device that hangs still uses the stream, the
    // buttons and the view: they stay, for the hand-off to the menu program
    // that comes next ends the process.
    if (run.LeftBehindAtWork())
        return;
    Delete(wav);
    if (font) {
        TTF_CloseFont(font);
        font = nullptr;
        TTF_Quit();
    }
    if (skin) {
        SDL_FreeSurface(skin);
        skin = nullptr;
    }
    if (help_image) {
        SDL_FreeSurface(help_image);
        help_image = nullptr;
    }
    Delete(play_button);
    Delete(record_button);
    Delete(list_button);
    Delete(help_close_button);
    Delete(msg_box);
    SDL_KelDevIfQuit();
    gpio_fd = -1;
}

int CRecorderView::AskGpio(int fd, unsigned long request)
{
    if (fd == -1)
        return 0;
    int value = 0;
    sys::ioctl(fd, request, &value);
    return value;
}

int CRecorderView::QuerySdAbsent()
{
    return AskGpio(gpio_fd, gpio::kCardAbsent) ? 1 : 0;
}

int CRecorderView::QueryHold()
{
    return AskGpio(gpio_fd, gpio::kHold);
}

int CRecorderView::QueryBatteryLevel()
{
    Uint16 level = 4;
    SDL_GetBattryCheck(&level);
    if (level == 0)
        level = 1;
    if (level > 4)
        level = 4;
    return level;
}
