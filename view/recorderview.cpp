#include "view/recorderview.h"

#include <SDL_image.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "app/logmessage.h"
#include "app/mainmenuapp.h"
#include "audio/wavrecord.h"
#include "platform/ini.h"
#include "platform/sdlext.h"
#include "platform/sys.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/userevent.h"

namespace {

constexpr const char* kUnit = "recorderview.cpp";
constexpr unsigned long kGpioCardAbsent = 9;
constexpr unsigned long kGpioHold = 11;
constexpr const char* kRecordFolder = "/mnt/sd/music/rec";
constexpr const char* kWriteProbe = "/mnt/sd/%%_tmp_.tmp%%";
// The record worker waits at most this long for sound before it looks at
// its stop and exit requests again.
constexpr int kRecordPollMs = 20;

// SDL does not wait for a tick already running when a timer is removed, and
// a tick can be on its way in before it takes any lock of the view. So the
// lock, and the views whose status monitor may run, live outside the views:
// a late tick finds its view gone and leaves it alone.
// Never destroyed: a view may be released from a static destructor, after
// the file's own statics are gone.
std::mutex& status_lock = *new std::mutex;
std::set<const CRecorderView*>& status_views = *new std::set<const CRecorderView*>;

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

// mkdir -p, one component at a time.
void MakeFolders(const char* path)
{
    std::string part;
    for (const char* p = path; *p; ++p) {
        part += *p;
        if (p[1] == '/' || p[1] == '\0')
            sys::mkdir(part.c_str(), 0755);
    }
}

bool IsFolder(const char* path)
{
    struct stat st;
    return sys::lstat(path, &st) == 0 && (st.st_mode & 0xF000) == 0x4000;
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
        gpio_fd = sys::open("/dev/GPIO", O_RDONLY);
        if (gpio_fd < 0) {
            gpio_fd = -1;
            LogMessage(kUnit, __LINE__, "GPIO_DEV open failed.\n");
        }
    }
    // The first tick may come while the rest is still loading; it waits for
    // the objects it looks at.
    std::unique_lock<std::mutex> hold(status_lock);
    if (!status_timer) {
        status_views.insert(this);
        status_timer = SDL_AddTimer(1000, OnStatusTick, this);
    }
    return InitializeResources(hold);
}

int CRecorderView::InitializeResources(std::unique_lock<std::mutex>& hold)
{
    if (!skin) {
        skin = IMG_Load("./res/app_rec.png");
        if (!skin) {
            LogMessage(kUnit, __LINE__, "Not found image. %s\n", SDL_GetError());
            return -1;
        }
    }
    InitLayout();
    ReadLanguage();
    if (!help_image) {
        help_image = IMG_Load(HelpImageForLanguage(language));
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
    if (!wav)
        wav = new CWavRecord();
    TTF_Init();
    if (!LoadFont("/usr/orvo/HYUni_ZEM_B.ttf", 12)) {
        if (msg_box)
            msg_box->Show(5);
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
    {
        std::lock_guard<std::mutex> hold(frame_lock_);
        ++draw_waits_released_;
    }
    frame_drawn_.notify_all();
    StopStatusTimer();
    StopWorkers();
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
    if (gpio_fd != -1) {
        sys::close(gpio_fd);
        gpio_fd = -1;
    }
}

void CRecorderView::StopStatusTimer()
{
    // A tick may be waiting for this thread to draw.
    const DrawWaitRelease release(*this);
    std::lock_guard<std::mutex> hold(status_lock);
    status_views.erase(this);
    if (status_timer) {
        SDL_RemoveTimer(status_timer);
        status_timer = nullptr;
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

// Commands and view events.

int CRecorderView::OnKeyCommand(int pressed, int code)
{
    if (pressed)
        return 0;
    switch (code) {
    case 8:
        if (recording)
            break;
        if (playing)
            OnPlayStop();
        else
            OnPlayStart();
        break;
    case 9:
        if (help_shown)
            OnHelpClose();
        else if (recording)
            OnRecordStop();
        else if (playing)
            OnPlayStop();
        else
            LeaveWith("--view-apps");
        break;
    case 10:
    case 18:
        if (help_shown)
            OnHelpClose();
        else if (playing)
            break;
        else if (recording)
            OnRecordStop();
        else
            OnRecordStart();
        break;
    case 14:
        if (recording || playing)
            exit_request = true;
        else
            LeaveWith("--view-main");
        break;
    case 17:
        show_version = !show_version;
        PostRedraw();
        break;
    default:
        break;
    }
    return 0;
}

void CRecorderView::OnPointer(int action, int x, int y)
{
    for (CMemButton* button : {play_button, record_button, list_button, help_close_button})
        if (button)
            button->HandlePointer(action, static_cast<Uint16>(x), static_cast<Uint16>(y));
}

void CRecorderView::OnUserEvent(int code, void* data1, void*)
{
    switch (code) {
    case EVT_REDRAW:
        DrawScreen(SDL_GetVideoSurface());
        break;
    case EVT_MSGBOX_CLOSED:
        OnMsgBoxClosed(static_cast<CMsgBox*>(data1));
        break;
    case EVT_BUTTON_PRESSED:
        PostRedraw();
        break;
    case EVT_BUTTON_RELEASED:
        OnButtonReleased(static_cast<CMemButton*>(data1));
        break;
    case EVT_PLAY_FINISHED:
    case EVT_PLAY_EXIT:
    case EVT_PLAY_NO_FILE:
        OnPlayEvent(code);
        break;
    case EVT_RECORD_FINISHED:
    case EVT_RECORD_STOPPING:
    case EVT_RECORD_EXIT:
    case EVT_RECORD_FAILED:
        OnRecordEvent(code);
        break;
    default:
        break;
    }
}

void CRecorderView::OnButtonReleased(CMemButton* sender)
{
    if (!sender)
        return;
    if (sender == play_button) {
        if (sender->GetState() == 1)
            OnPlayStart();
        else
            OnPlayStop();
    } else if (sender == record_button) {
        if (sender->GetState() == 1)
            OnRecordStart();
        else
            OnRecordStop();
    } else if (sender == list_button) {
        OnFileList();
    } else if (sender == help_close_button) {
        OnHelpClose();
    }
}

void CRecorderView::OnMsgBoxClosed(CMsgBox* sender)
{
    if (!sender || sender != msg_box)
        return;
    switch (msg_box->msg_index.load()) {
    case 0:
    case 1:
        StopStatusTimer();
        StopWorkers();
        LeaveWith("--view-main");
        break;
    case 2:
        ResetAfterRecord();
        PostRedraw();
        recording = false;
        break;
    case 3:
        ResetAfterPlay();
        ResetAfterRecord();
        PostRedraw();
        playing = false;
        recording = false;
        break;
    default:
        break;
    }
}

void CRecorderView::OnPlayEvent(int code)
{
    if (code == EVT_PLAY_EXIT) {
        LogMessage(kUnit, __LINE__, "(Play) Exit to mainApp...\n");
        LeaveWith("--view-main");
        return;
    }
    if (play_thread) {
        JoinWorker(play_thread);
        LogMessage(kUnit, __LINE__, "(Play) PlayStop...\n");
    }
    ResetAfterPlay();
    PostRedraw();
    playing = false;
}

void CRecorderView::OnRecordEvent(int code)
{
    switch (code) {
    case EVT_RECORD_FAILED:
        if (file_path[0]) {
            LogMessage(kUnit, __LINE__, "unlink file(%s)\n", file_path);
            sys::unlink(file_path);
            sys::sync();
            file_path[0] = '\0';
        }
        break;
    case EVT_RECORD_EXIT:
        LogMessage(kUnit, __LINE__, "(Record) Exit to mainApp...\n");
        LeaveWith("--view-main");
        break;
    case EVT_RECORD_FINISHED:
        if (record_thread) {
            JoinWorker(record_thread);
            LogMessage(kUnit, __LINE__, "(Record) RecordStop...\n");
        }
        ResetAfterRecord();
        PostRedraw();
        recording = false;
        break;
    default:
        break;
    }
}

void CRecorderView::OnFileList()
{
    if (recording || playing) {
        LogMessage(kUnit, __LINE__, "OnFileList Skip...!!\n");
        return;
    }
    PostRedraw();
    LeaveWith("--view-reclist");
}

void CRecorderView::OnHelpOpen()
{
    if (recording || playing)
        return;
    help_shown = true;
    for (CMemButton* button : {play_button, record_button, list_button})
        if (button)
            button->Disable();
    if (help_close_button)
        help_close_button->Enable();
    PostRedraw();
}

void CRecorderView::OnHelpClose()
{
    if (recording || playing)
        return;
    help_shown = false;
    for (CMemButton* button : {play_button, record_button, list_button})
        if (button)
            button->Enable();
    if (help_close_button)
        help_close_button->Disable();
    PostRedraw();
}

void CRecorderView::ResetAfterRecord()
{
    elapsed_sec = 0;
    if (record_button) {
        record_button->Enable();
        record_button->SetFrame(0);
    }
    if (play_button)
        play_button->Enable();
    if (list_button)
        list_button->Enable();
}

void CRecorderView::ResetAfterPlay()
{
    elapsed_sec = 0;
    if (play_button) {
        play_button->Enable();
        play_button->SetFrame(0);
    }
    if (record_button)
        record_button->Enable();
    if (list_button)
        list_button->Enable();
}

void CRecorderView::PostUserEvent(int code, void* data1, void* data2)
{
    ::PostUserEvent(code, data1, data2);
}

void CRecorderView::PostRedraw()
{
    PostUserEvent(EVT_REDRAW, this, nullptr);
}

void CRecorderView::LeaveWith(const char* view_name)
{
    theApp.SetExitView(view_name);
    PostUserEvent(EVT_QUIT_LOOP, this, nullptr);
}

// Threads: joining workers and waiting for draws.

CRecorderView::DrawWaitRelease::DrawWaitRelease(CRecorderView& view) : view_(view)
{
    {
        std::lock_guard<std::mutex> hold(view_.frame_lock_);
        ++view_.draw_waits_released_;
    }
    view_.frame_drawn_.notify_all();
}

CRecorderView::DrawWaitRelease::~DrawWaitRelease()
{
    std::lock_guard<std::mutex> hold(view_.frame_lock_);
    --view_.draw_waits_released_;
}

void CRecorderView::JoinWorker(SDL_Thread*& thread)
{
    // A worker that is waiting for the main thread to draw would wait for
    // ever while the main thread waits for it.
    const DrawWaitRelease release(*this);
    SDL_WaitThread(thread, nullptr);
    thread = nullptr;
}

void CRecorderView::StopWorkers()
{
    for (SDL_Thread** thread : {&record_thread, &play_thread}) {
        if (*thread) {
            stop_request = true;
            JoinWorker(*thread);
        }
    }
}

bool CRecorderView::WorkerRunning(SDL_Thread*& thread)
{
    if (!thread)
        return false;
    if (worker_running_)
        return true;
    // The worker has ended without an event that reaps it (a failed open);
    // its handle is all that is left.
    JoinWorker(thread);
    return false;
}

void CRecorderView::DisableAndDraw(CMemButton* button)
{
    if (button)
        button->Disable();
    std::unique_lock<std::mutex> hold(frame_lock_);
    if (draw_waits_released_ > 0)
        return;
    const uint64_t after = draws_started_;
    hold.unlock();
    PostRedraw();
    hold.lock();
    frame_drawn_.wait(hold, [&] { return draws_flipped_ > after || draw_waits_released_ > 0; });
}

void CRecorderView::DisableRecordAndDraw()
{
    DisableAndDraw(record_button);
}

void CRecorderView::DisablePlayAndDraw()
{
    DisableAndDraw(play_button);
}

// Recording and playback.

int CheckSdWritable()
{
    const int fd = sys::open(kWriteProbe, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        LogMessage(kUnit, __LINE__, "SD Card Lock !!...\n");
        return -1;
    }
    const size_t length = std::strlen(kWriteProbe);
    const ssize_t written = sys::write(fd, kWriteProbe, length);
    sys::close(fd);
    sys::unlink(kWriteProbe);
    if (written == static_cast<ssize_t>(length))
        return 0;
    LogMessage(kUnit, __LINE__, "No Space...\n");
    return -1;
}

void CRecorderView::OnRecordStart()
{
    if (recording) {
        ResetAfterRecord();
        PostRedraw();
        LogMessage(kUnit, __LINE__, "OnRecordStart Skip(1)...\n");
        return;
    }
    if (playing) {
        LogMessage(kUnit, __LINE__, "OnRecordStart Skip(2)...\n");
        return;
    }
    if (record_button && !record_button->IsEnabled()) {
        LogMessage(kUnit, __LINE__, "OnRecordStart skip(3)...\n");
        return;
    }
    // The previous run's worker may still be closing its file: one audio
    // stream, one worker.
    if (WorkerRunning(record_thread) || WorkerRunning(play_thread)) {
        LogMessage(kUnit, __LINE__, "OnRecordStart Skip(4)...\n");
        return;
    }
    if (play_button)
        play_button->Disable();
    if (record_button)
        record_button->SetFrame(4);
    if (list_button)
        list_button->Disable();
    PostRedraw();

    if (QuerySdAbsent()) {
        if (record_button)
            record_button->Disable();
        if (msg_box)
            msg_box->Show(3);
        // The failure's handler deletes the file named here, and nothing of
        // this run has been made: the name is still the last recording's.
        file_path[0] = '\0';
        PostUserEvent(EVT_RECORD_FAILED, this, nullptr);
        LogMessage(kUnit, __LINE__, "No SD card !!...\n");
        return;
    }
    if (CheckSdWritable() != 0) {
        if (record_button)
            record_button->Disable();
        if (msg_box)
            msg_box->Show(0);
        return;
    }
    if (!IsFolder(kRecordFolder)) {
        MakeFolders(kRecordFolder);
        sys::sync();
        LogMessage(kUnit, __LINE__, "Create 'record' path(%s)...\n", kRecordFolder);
        if (!IsFolder(kRecordFolder)) {
            if (record_button)
                record_button->Disable();
            if (msg_box)
                msg_box->Show(0);
            LogMessage(kUnit, __LINE__, "Can't create the path(%s)\n", kRecordFolder);
            return;
        }
    }
    // A second recording within the same second must not replace the first:
    // the name moves on a second at a time until it is free.
    struct stat st;
    for (time_t when = sys::time(nullptr);; ++when) {
        const struct tm t = LocalTime(when);
        std::snprintf(file_path, sizeof file_path, "%s/%d%02d%02d%02d%02d%02d.wav", kRecordFolder,
                      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        if (sys::lstat(file_path, &st) != 0)
            break;
    }
    // A stop asked for when no worker could take it up must not end this run.
    stop_request = false;
    worker_running_ = true;
    record_thread = SDL_CreateThread(RecordWorker, this);
    if (!record_thread) {
        worker_running_ = false;
        LogMessage(kUnit, __LINE__, "Can't start the recording: %s\n", SDL_GetError());
        ResetAfterRecord();
        PostRedraw();
        return;
    }
    recording = true;
}

void CRecorderView::OnRecordStop()
{
    if (recording && !playing) {
        stop_request = true;
        recording = false;
    } else {
        LogMessage(kUnit, __LINE__, "OnRecordStop Skip...!!\n");
    }
}

void CRecorderView::OnPlayStart()
{
    if (playing || !file_path[0]) {
        ResetAfterPlay();
        PostRedraw();
        LogMessage(kUnit, __LINE__, "(Play) Play skip(1)...\n");
        return;
    }
    if (recording) {
        ResetAfterPlay();
        PostRedraw();
        LogMessage(kUnit, __LINE__, "(Play) Play skip(2)...\n");
        return;
    }
    // The previous run's worker may still be closing: one audio stream, one
    // worker. Asked before the next refusal, which would take back the stop
    // that worker has not seen yet.
    if (WorkerRunning(record_thread) || WorkerRunning(play_thread)) {
        LogMessage(kUnit, __LINE__, "(Play) Play skip(4)...\n");
        return;
    }
    if (play_button && !play_button->IsEnabled()) {
        stop_request = false;
        playing = true;
        LogMessage(kUnit, __LINE__, "(Play) Play skip(3)...\n");
        return;
    }
    if (play_button)
        play_button->SetFrame(4);
    if (record_button)
        record_button->Disable();
    if (list_button)
        list_button->Disable();
    PostRedraw();
    stop_request = false;
    worker_running_ = true;
    play_thread = SDL_CreateThread(PlayWorker, this);
    if (!play_thread) {
        worker_running_ = false;
        LogMessage(kUnit, __LINE__, "Can't start the playback: %s\n", SDL_GetError());
        ResetAfterPlay();
        PostRedraw();
        return;
    }
    playing = true;
}

void CRecorderView::OnPlayStop()
{
    if (playing && !recording) {
        stop_request = true;
        playing = false;
    } else {
        LogMessage(kUnit, __LINE__, "OnPlayStop Skip...\n");
    }
}

int RecordWorker(void* param)
{
    auto* view = static_cast<CRecorderView*>(param);
    view->RecordRun();
    view->worker_running_ = false;
    return 0;
}

int PlayWorker(void* param)
{
    auto* view = static_cast<CRecorderView*>(param);
    view->PlayRun();
    view->worker_running_ = false;
    return 0;
}

void CRecorderView::RecordRun()
{
    const Uint32 t0 = SDL_GetTicks();
    if (wav && wav->record_open(file_path) < 0) {
        DisableRecordAndDraw();
        wav->record_close();
        if (msg_box)
            msg_box->Show(0);
        PostUserEvent(EVT_RECORD_FAILED, this, nullptr);
        return;
    }
    LogMessage(kUnit, __LINE__, "(Record) RecordStart(%s)...\n", file_path);
    shown_sec = -1;
    for (;;) {
        // Wait for sound, briefly: the requests below are looked at on
        // every pass.
        if (wav)
            wav->dsp_wait(kRecordPollMs);
        else
            SDL_Delay(kRecordPollMs);
        elapsed_sec = static_cast<int32_t>((SDL_GetTicks() - t0) / 1000);
        if (wav && wav->file_write(wav->dsp_read()) < 0) {
            DisableRecordAndDraw();
            wav->header_update();
            wav->record_close();
            if (msg_box)
                msg_box->Show(0);
            LogMessage(kUnit, __LINE__, "(Record) Write abort...\n");
            return;
        }
        if (exit_request) {
            DisableRecordAndDraw();
            if (wav) {
                wav->header_update();
                wav->record_close();
            }
            PostUserEvent(EVT_RECORD_EXIT, this, nullptr);
            return;
        }
        if (stop_request) {
            DisableRecordAndDraw();
            stop_request = false;
            PostUserEvent(EVT_RECORD_STOPPING, this, nullptr);
            LogMessage(kUnit, __LINE__, "(Record) Pressed stop button & soundcard closed...\n");
            if (wav) {
                wav->header_update();
                wav->record_close();
            }
            PostUserEvent(EVT_RECORD_FINISHED, this, nullptr);
            return;
        }
        if (elapsed_sec != shown_sec) {
            shown_sec = elapsed_sec.load();
            PostRedraw();
        }
    }
}

void CRecorderView::PlayRun()
{
    const Uint32 t0 = SDL_GetTicks();
    if (!file_path[0]) {
        PostUserEvent(EVT_PLAY_NO_FILE, this, nullptr);
        LogMessage(kUnit, __LINE__, "(Play) No filename.\n");
        return;
    }
    if (wav) {
        const int rc = wav->play_open(file_path);
        if (rc < 0) {
            stop_request = false;
            playing = true;
            if (rc != -1 && msg_box)
                msg_box->Show(1);
            return;
        }
    }
    LogMessage(kUnit, __LINE__, "(Play) PlayStart...\n");
    shown_sec = -1;
    for (;;) {
        elapsed_sec = static_cast<int32_t>((SDL_GetTicks() - t0) / 1000);
        // The device paces this loop: each block returns once it has played.
        if (wav && wav->dsp_write(wav->file_read()) < 0) {
            DisablePlayAndDraw();
            wav->play_close();
            LogMessage(kUnit, __LINE__, "(Play) Finished the song & soundcard closed...\n");
            PostUserEvent(EVT_PLAY_FINISHED, this, nullptr);
            return;
        }
        if (!wav)
            SDL_Delay(kRecordPollMs);
        if (exit_request) {
            DisablePlayAndDraw();
            if (wav)
                wav->play_close();
            PostUserEvent(EVT_PLAY_EXIT, this, nullptr);
            return;
        }
        if (stop_request) {
            DisablePlayAndDraw();
            stop_request = false;
            LogMessage(kUnit, __LINE__, "(Play) Pressed stop button & soundcard closing...\n");
            if (wav)
                wav->play_close();
            PostUserEvent(EVT_PLAY_FINISHED, this, nullptr);
            return;
        }
        if (elapsed_sec != shown_sec) {
            shown_sec = elapsed_sec.load();
            PostRedraw();
        }
    }
}

// The status monitor.

Uint32 CRecorderView::OnStatusTick(Uint32 interval, void* param)
{
    std::lock_guard<std::mutex> hold(status_lock);
    // Compared, not followed: the view may be gone.
    if (status_views.count(static_cast<const CRecorderView*>(param)))
        static_cast<CRecorderView*>(param)->StatusTick();
    return interval;
}

void CRecorderView::StatusTick()
{
    const struct tm now = LocalTime(sys::time(nullptr));
    if (now.tm_hour != clock_hour || now.tm_min != clock_min) {
        clock_hour = now.tm_hour;
        clock_min = now.tm_min;
        const int level = QueryBatteryLevel();
        battery_index = level - 1;
        PostRedraw();
        if (now.tm_min % 5 == 0 && level == 4 && msg_box)
            msg_box->Show(4);
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
    if (QuerySdAbsent() == 1) {
        theApp.SetExitView("--view-main");
        if (msg_box)
            msg_box->Show(3);
        if (recording) {
            DisableRecordAndDraw();
            if (wav)
                wav->record_close();
        } else if (playing) {
            DisablePlayAndDraw();
            if (wav)
                wav->play_close();
        }
        LogMessage(kUnit, __LINE__, "No SD card & exit to mainApp !!...\n");
        PostUserEvent(EVT_QUIT_LOOP, this, nullptr);
    }
}
