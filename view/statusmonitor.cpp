// The status monitor: once a second, the clock, the battery, the HOLD switch
// and the SD card.

#include <atomic>
#include <ctime>

#include "app/logmessage.h"
#include "app/mainmenuapp.h"
#include "app/tickguard.h"
#include "app/userevent.h"
#include "audio/wavrecord.h"
#include "platform/gpio.h"
#include "platform/sys.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

constexpr const char* kUnit = "recorderview.cpp";
constexpr Uint32 kTickMs = 1000;
constexpr int kLowBatteryLevel = 4;
constexpr int kLowBatteryEveryMinutes = 5;

// The views whose monitor may tick. Initialize holds its lock while it sets
// up what a tick reads, ExitInstance while it removes the timer.
TickGuard& g_monitors = *new TickGuard;
// Ticks asking the devices now, of any view.
std::atomic<int> g_ticks_in_devices{0};

}  // namespace

void CRecorderView::StartStatusTimer()
{
    // The first tick may come while the rest is still loading; it waits for
    // the objects it looks at, since the caller holds the lock.
    if (!status_timer) {
        g_monitors.Admit(this);
        status_timer = SDL_AddTimer(kTickMs, OnStatusTick, this);
    }
}

std::unique_lock<std::mutex> CRecorderView::HoldStatusMonitor()
{
    return g_monitors.Hold();
}

void CRecorderView::StopStatusTimer()
{
    const auto hold = g_monitors.Hold();
    g_monitors.Dismiss(this);
    if (status_timer) {
        SDL_RemoveTimer(status_timer);
        status_timer = nullptr;
    }
}

// The tick asks the devices between two holds of the monitor's lock, never
// under it: a driver that hangs holds up SDL's timer thread alone, and the
// view's teardown still takes the lock and goes. What it asks with it takes
// along: the GPIO descriptor stays open while a tick uses it.
Uint32 CRecorderView::OnStatusTick(Uint32 interval, void* param)
{
    StatusReading reading;
    std::shared_ptr<const int> gpio;
    {
        const auto hold = g_monitors.Hold();
        // Compared, not followed: the view may be gone.
        if (!g_monitors.Admitted(param))
            return interval;
        const CRecorderView& view = *static_cast<CRecorderView*>(param);
        gpio = view.gpio_held_;
        reading.hour = view.clock_hour;
        reading.minute = view.clock_min;
    }
    g_ticks_in_devices.fetch_add(1);
    ReadStatus(gpio ? *gpio : -1, &reading);
    gpio.reset();
    g_ticks_in_devices.fetch_sub(1);
    const auto hold = g_monitors.Hold();
    if (g_monitors.Admitted(param))
        static_cast<CRecorderView*>(param)->StatusTick(reading);
    return interval;
}

bool CRecorderView::StatusTickInDevices()
{
    return g_ticks_in_devices.load() != 0;
}

void CRecorderView::ReadStatus(int gpio, StatusReading* reading)
{
    struct tm now {};
    const time_t seconds = sys::time(nullptr);
    localtime_r(&seconds, &now);
    reading->new_minute = now.tm_hour != reading->hour || now.tm_min != reading->minute;
    reading->hour = now.tm_hour;
    reading->minute = now.tm_min;
    if (reading->new_minute)
        reading->battery = QueryBatteryLevel();
    reading->hold = AskGpio(gpio, gpio::kHold);
    reading->card_absent = AskGpio(gpio, gpio::kCardAbsent) != 0;
}

void CRecorderView::StatusTick(const StatusReading& reading)
{
    if (reading.new_minute) {
        clock_hour = reading.hour;
        clock_min = reading.minute;
        battery_index = reading.battery - 1;
        PostRedraw();
        if (reading.minute % kLowBatteryEveryMinutes == 0 && reading.battery == kLowBatteryLevel &&
            msg_box)
            msg_box->Show(MSG_LOW_BATTERY);
    }
    const int hold_switch = reading.hold;
    if (!hold_on && hold_switch) {
        hold_on = true;
        PostRedraw();
        LogMessage(kUnit, __LINE__, "HOLD ON View !!\n");
    } else if (hold_on && !hold_switch) {
        hold_on = false;
        PostRedraw();
        LogMessage(kUnit, __LINE__, "HOLD OFF View !!\n");
    }
    // The run and its stream belong to the main thread and the worker: the
    // tick, which holds the monitor's lock, only tells of the card.
    if (reading.card_absent)
        PostUserEvent(EVT_CARD_GONE, this, nullptr);
}

void CRecorderView::OnCardGone()
{
    theApp.SetExitView("--view-main");
    ShowOutcome(MSG_NO_CARD);
    CMemButton* const button = recording ? record_button : playing ? play_button : nullptr;
    if (recording || playing) {
        // On screen before the stream closes: this thread draws it itself.
        if (button)
            button->Disable();
        DrawScreen(SDL_GetVideoSurface());
        run.CloseForCardGone();
    }
    LogMessage(kUnit, __LINE__, "No SD card & exit to mainApp !!...\n");
    PostUserEvent(EVT_QUIT_LOOP, this, nullptr);
}
