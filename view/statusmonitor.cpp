// The status monitor: once a second, the clock, the battery, the HOLD switch
// and the SD card.

#include <ctime>

#include "app/logmessage.h"
#include "app/mainmenuapp.h"
#include "app/tickguard.h"
#include "app/userevent.h"
#include "audio/wavrecord.h"
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

Uint32 CRecorderView::OnStatusTick(Uint32 interval, void* param)
{
    const auto hold = g_monitors.Hold();
    // Compared, not followed: the view may be gone.
    if (g_monitors.Admitted(param))
        static_cast<CRecorderView*>(param)->StatusTick();
    return interval;
}

void CRecorderView::StatusTick()
{
    struct tm now {};
    const time_t seconds = sys::time(nullptr);
    localtime_r(&seconds, &now);
    if (now.tm_hour != clock_hour || now.tm_min != clock_min) {
        clock_hour = now.tm_hour;
        clock_min = now.tm_min;
        const int level = QueryBatteryLevel();
        battery_index = level - 1;
        PostRedraw();
        if (now.tm_min % kLowBatteryEveryMinutes == 0 && level == kLowBatteryLevel && msg_box)
            msg_box->Show(MSG_LOW_BATTERY);
    }
    const int hold_switch = QueryHold();
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
    if (QuerySdAbsent() == 1)
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
