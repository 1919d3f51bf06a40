#pragma once
// The one screen of the recorder and its controller. Its parts live in
// files of their own:
//   recorderview.cpp   the object, its resources and the device queries
//   commands.cpp       commands and view events
//   runcontrol.*       recording and playback: the workers and their runs
//   recordfiles.*      the card as recordings need it: probe, folder, names
//   statusmonitor.cpp  the once-a-second look at clock, battery, HOLD, card
// and its drawing in ui/ (layout.cpp, screen.cpp, text.cpp).

#include <SDL.h>
#include <SDL_ttf.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "app/cardchores.h"
#include "ui/layout.h"
#include "view/runcontrol.h"

class CMemButton;
class CMsgBox;
class CWavRecord;

// The command codes the view acts on; every other code does nothing.
enum Command {
    CMD_PLAY = 8,         // play, or stop playing
    CMD_BACK = 9,         // back out one level
    CMD_RECORD = 10,      // record, or stop recording
    CMD_LEAVE = 14,       // leave for the menu's main view
    CMD_VERSION = 17,     // show or hide the version
    CMD_RECORD_ALT = 18,  // the second record key
};

// The frames of the message strip, by what they tell.
enum Message {
    MSG_RECORD_FAILED = 0,  // its end leaves for the menu's main view
    MSG_PLAY_FAILED = 1,    // the same
    MSG_RESET_RECORD = 2,   // never shown
    MSG_NO_CARD = 3,        // its end puts the buttons back
    MSG_LOW_BATTERY = 4,    // a notice
    MSG_NO_FONT = 5,        // a notice
    MSG_UNUSED = 6,         // never shown
};

class CRecorderView {
public:
    CRecorderView();
    virtual ~CRecorderView();
    CRecorderView(const CRecorderView&) = delete;
    CRecorderView& operator=(const CRecorderView&) = delete;

    // Life cycle and device queries.
    int Initialize();
    void ExitInstance();
    static const char* HelpImageForLanguage(const char* language);
    static const char* MsgImageForLanguage(const char* language);
    int QuerySdAbsent();
    int QueryHold();
    static int QueryBatteryLevel();

    // Commands and view events (main thread).
    int OnKeyCommand(int pressed, int code);
    void OnPointer(int action, int x, int y);
    void OnUserEvent(int code, void* data1, void* data2);
    void OnButtonReleased(CMemButton* sender);
    void OnMsgBoxClosed(CMsgBox* sender);
    void OnPlayEvent(int code);
    void OnRecordEvent(int code);
    // A worker has returned: its run is reaped, whichever way it ended.
    void OnWorkerEnded();
    // The status monitor found the SD card gone: message 3, the run's
    // stream closed, and the leave for the menu's main view.
    void OnCardGone();
    void OnFileList();
    void OnHelpOpen();
    void OnHelpClose();
    void ResetAfterRecord();
    void ResetAfterPlay();
    // Safe from any thread.
    void PostUserEvent(int code, void* data1, void* data2);
    void PostRedraw();

    // Recording and playback (main thread, but for the two draws).
    void OnRecordStart();
    void OnRecordStop();
    void OnPlayStart();
    void OnPlayStop();
    // Disable the button and have the main thread draw it (worker threads);
    // they return once the disabled button is on screen, or at once when the
    // main thread cannot draw any more (it is waiting for a worker, or
    // tearing down).
    void DisableRecordAndDraw();
    void DisablePlayAndDraw();

    // The status monitor: an SDL timer function; param is the view.
    static Uint32 OnStatusTick(Uint32 interval, void* param);
    // Whether a tick of any view is in a device call now: SDL's timer
    // thread cannot be waited for then.
    static bool StatusTickInDevices();

    // Layout (layout.cpp).
    void InitLayout();

    // Text (text.cpp).
    int LoadFont(const char* path, int point_size);
    void DrawText(SDL_Surface* target, int x, int y, const char* text);
    void DrawTitle(SDL_Surface* target);

    // Screen composition (screen.cpp). Main thread only.
    void DrawScreen(SDL_Surface* target);
    void DrawStatusBar(SDL_Surface* target);
    void DrawCounter(SDL_Surface* target);

    // Fields. The flags and counters are shared with the worker and timer
    // threads, hence atomic; the rest belongs to the main thread, or is
    // handed to a worker before it starts. recording, playing, stop_request
    // and exit_request belong to run control, which keeps them in step with
    // its state.
    char file_path[512] = "";
    std::atomic<int32_t> elapsed_sec{0};
    std::atomic<int32_t> shown_sec{-1};
    std::atomic<int32_t> clock_hour{0};
    std::atomic<int32_t> clock_min{0};
    std::atomic<bool> recording{false};
    std::atomic<bool> playing{false};
    std::atomic<bool> stop_request{false};
    std::atomic<bool> exit_request{false};
    std::atomic<bool> help_shown{false};
    std::atomic<bool> show_version{false};
    std::atomic<bool> hold_on{false};
    std::atomic<int32_t> battery_index{3};
    int gpio_fd = -1;
    CMemButton* play_button = nullptr;
    CMemButton* record_button = nullptr;
    CMemButton* list_button = nullptr;
    CMemButton* help_close_button = nullptr;
    CWavRecord* wav = nullptr;
    CMsgBox* msg_box = nullptr;
    SDL_Surface* skin = nullptr;
    SDL_Surface* help_image = nullptr;
    SDL_Rect rects[layout::kEntryCount] = {};
    SDL_TimerID status_timer = nullptr;
    TTF_Font* font = nullptr;
    SDL_Thread* record_thread = nullptr;
    SDL_Thread* play_thread = nullptr;
    char language[16] = "en_US.utf8";

    // The card work the main thread must not wait on: probe, removals.
    CardChores card_chores;
    // The owner of the runs: workers, requests, state, the wait for a frame.
    RunControl run{*this};

private:
    void Release();
    int InitializeResources(std::unique_lock<std::mutex>& hold);
    void ReadLanguage();
    // With the monitor's lock held (HoldStatusMonitor).
    void StartStatusTimer();
    std::unique_lock<std::mutex> HoldStatusMonitor();
    void StopStatusTimer();
    // What a tick found; the hour and minute go in as the view's.
    struct StatusReading {
        int hour = 0;
        int minute = 0;
        bool new_minute = false;
        int battery = 0;  // read only for a new minute
        int hold = 0;
        bool card_absent = false;
    };
    static void ReadStatus(int gpio, StatusReading* reading);
    void StatusTick(const StatusReading& reading);
    // A GPIO driver's answer; 0 without the driver (-1).
    static int AskGpio(int fd, unsigned long request);
    void LeaveWith(const char* view_name);
    // Shows a message that tells how a run ended: it must be seen.
    void ShowOutcome(int index);
    // A start refused because of the state: puts the button back.
    void RefuseRecordStart(const char* why, bool reset);
    void RefusePlayStart(const char* why);
    // Record start refused by the card; the message tells the rest.
    void FailRecordStart(int message);

    // The GPIO descriptor's owners: the view, and a tick under way or a
    // press's look at the card, each of which closes it if it is the last.
    std::shared_ptr<const int> gpio_held_;
};

int RecordWorker(void* param);
int PlayWorker(void* param);
// 0 when the SD card takes the write probe, -1 otherwise.
int CheckSdWritable();
