#pragma once
// The one screen of the recorder and its controller.

#include <SDL.h>
#include <SDL_ttf.h>

#include <atomic>
#include <cstdint>

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

    // Life cycle and device queries (recorderview.cpp).
    int Initialize();
    void ExitInstance();
    static const char* HelpImageForLanguage(const char* language);
    static const char* MsgImageForLanguage(const char* language);
    int QuerySdAbsent();
    int QueryHold();
    static int QueryBatteryLevel();

    // Commands and view events (recorderview.cpp).
    int OnKeyCommand(int pressed, int code);
    void OnPointer(int action, int x, int y);
    void OnUserEvent(int code, void* data1, void* data2);

    // Layout (layout.cpp).
    void InitLayout();

    // Text (text.cpp).
    int LoadFont(const char* path, int point_size);
    void DrawText(SDL_Surface* target, int x, int y, const char* text);
    void DrawTitle(SDL_Surface* target);

    // Screen composition (screen.cpp).
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
    void Release();
};
