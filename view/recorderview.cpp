#include "view/recorderview.h"

#include <unistd.h>

#include <ctime>

#include "app/logmessage.h"
#include "platform/sdlext.h"
#include "platform/sys.h"

namespace {
constexpr const char* kUnit = "recorderview.cpp";
constexpr unsigned long kGpioCardAbsent = 9;
constexpr unsigned long kGpioHold = 11;
}  // namespace

CRecorderView::CRecorderView()
{
    LogMessage(kUnit, __LINE__, "CRecorderView()\n");
    const time_t now = sys::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
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
        gpio_fd = sys::open("/dev/GPIO", O_RDONLY);
        if (gpio_fd < 0) {
            gpio_fd = -1;
            LogMessage(kUnit, __LINE__, "GPIO_DEV open failed.\n");
        }
    }
    return 1;
}

void CRecorderView::ExitInstance()
{
    Release();
    LogMessage(kUnit, __LINE__, "CRecorderView()::ExitInstance()\n");
}

void CRecorderView::Release()
{
    SDL_KelDevIfQuit();
    if (gpio_fd != -1) {
        sys::close(gpio_fd);
        gpio_fd = -1;
    }
}

int CRecorderView::QuerySdAbsent()
{
    if (gpio_fd == -1)
        return 0;
    int absent = 0;
    sys::ioctl(gpio_fd, kGpioCardAbsent, &absent);
    return absent ? 1 : 0;
}

int CRecorderView::QueryHold()
{
    if (gpio_fd == -1)
        return 0;
    int hold = 0;
    sys::ioctl(gpio_fd, kGpioHold, &hold);
    return hold;
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

int CRecorderView::OnKeyCommand(int, int)
{
    return 0;
}

void CRecorderView::OnPointer(int, int, int) {}

void CRecorderView::OnUserEvent(int code, void*, void*)
{
    if (code == 100)
        DrawScreen(SDL_GetVideoSurface());
}
