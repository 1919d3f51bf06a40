#pragma once
// The one screen of the recorder and its controller.

#include <SDL.h>
#include <SDL_ttf.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "ui/layout.h"

class CMemButton;
class CMsgBox;
class CWavRecord;

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
    // Disable the button and have the main thread draw it; they return once
    // the disabled button is on screen, or at once when the main thread cannot
    // draw any more (it is waiting for a worker, or tearing down).
    void DisableRecordAndDraw();
    void DisablePlayAndDraw();

    // The status monitor: an SDL timer function; param is the view. It runs
    // under a lock that Initialize holds while it sets up what the tick reads,
    // and that ExitInstance holds while it removes the timer.
    static Uint32 OnStatusTick(Uint32 interval, void* param);

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
    // handed to a worker before it starts.
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

private:
    friend int RecordWorker(void* param);
    friend int PlayWorker(void* param);

    // While one lives, no thread waits for the main thread to draw: the main
    // thread is about to block on a worker or on the status monitor.
    class DrawWaitRelease {
    public:
        explicit DrawWaitRelease(CRecorderView& view);
        ~DrawWaitRelease();
        DrawWaitRelease(const DrawWaitRelease&) = delete;
        DrawWaitRelease& operator=(const DrawWaitRelease&) = delete;

    private:
        CRecorderView& view_;
    };

    void Release();
    int InitializeResources(std::unique_lock<std::mutex>& hold);
    void ReadLanguage();
    void StopStatusTimer();
    void StatusTick();
    void LeaveWith(const char* view_name);
    // Waits for a worker on the main thread, letting go of any worker that
    // waits for a draw in the meantime.
    void JoinWorker(SDL_Thread*& thread);
    // Asks the registered workers to stop and waits for them.
    void StopWorkers();
    // True when the worker registered in `thread` is still running.
    bool WorkerRunning(SDL_Thread*& thread);
    void DisableAndDraw(CMemButton* button);
    void RecordRun();
    void PlayRun();

    // Frames drawn by the main thread, for the threads that must see their
    // button disabled on screen before they go on.
    std::mutex frame_lock_;
    std::condition_variable frame_drawn_;
    uint64_t draws_started_ = 0;
    uint64_t draws_flipped_ = 0;
    // > 0: nobody may wait for a draw (the main thread is blocked, or the
    // view is released for good).
    int draw_waits_released_ = 0;

    std::atomic<bool> worker_running_{false};
};

int RecordWorker(void* param);
int PlayWorker(void* param);
// 0 when the SD card takes the write probe, -1 otherwise.
int CheckSdWritable();
