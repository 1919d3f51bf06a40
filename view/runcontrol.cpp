#include "view/runcontrol.h"

#include <cstdio>
#include <string>

#include "app/logmessage.h"
#include "app/userevent.h"
#include "audio/wavrecord.h"
#include "platform/gpio.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"
#include "view/recordfiles.h"

namespace {

// The view's name in the log, whichever of its files speaks.
constexpr const char* kUnit = "recorderview.cpp";

}  // namespace

// ---- The view's entry points ----

void CRecorderView::RefuseRecordStart(const char* why, bool reset)
{
    if (reset) {
        ResetAfterRecord();
        PostRedraw();
    }
    LogMessage(kUnit, __LINE__, "%s", why);
}

void CRecorderView::RefusePlayStart(const char* why)
{
    ResetAfterPlay();
    PostRedraw();
    LogMessage(kUnit, __LINE__, "%s", why);
}

void CRecorderView::FailRecordStart(int message)
{
    if (record_button)
        record_button->Disable();
    ShowOutcome(message);
}

void CRecorderView::OnRecordStart()
{
    if (recording)
        return RefuseRecordStart("OnRecordStart Skip(1)...\n", true);
    if (playing)
        return RefuseRecordStart("OnRecordStart Skip(2)...\n", false);
    if (record_button && !record_button->IsEnabled())
        return RefuseRecordStart("OnRecordStart skip(3)...\n", false);
    // The previous run's worker may still be closing its file: one audio
    // stream, one worker.
    if (run.Busy())
        return RefuseRecordStart("OnRecordStart Skip(4)...\n", false);
    if (play_button)
        play_button->Disable();
    if (record_button)
        record_button->SetFrame(4);
    if (list_button)
        list_button->Disable();
    PostRedraw();

    const auto card_absent = [gpio = gpio_held_] {
        return gpio && AskGpio(*gpio, gpio::kCardAbsent) != 0;
    };
    const CardAnswer answer = PrepareCard(card_chores, card_absent, budget::kCardAnswer);
    if (answer == CardAnswer::kAbsent) {
        FailRecordStart(MSG_NO_CARD);
        // The failure's handler deletes the file named here, and nothing of
        // this run has been made: the name is still the last recording's.
        file_path[0] = '\0';
        PostUserEvent(EVT_RECORD_FAILED, this, nullptr);
        LogMessage(kUnit, __LINE__, "No SD card !!...\n");
        return;
    }
    if (answer == CardAnswer::kRefused)
        return FailRecordStart(MSG_RECORD_FAILED);
    NameNewRecording(file_path, sizeof file_path);
    if (!run.Start(RunKind::kRecord)) {
        ResetAfterRecord();
        PostRedraw();
    }
}

void CRecorderView::OnRecordStop()
{
    if (recording && !playing)
        run.RequestStop();
    else
        LogMessage(kUnit, __LINE__, "OnRecordStop Skip...!!\n");
}

void CRecorderView::OnPlayStart()
{
    // A recording that kept no sound is nothing to play. Only while no run
    // is on: a recording's worker reads the path it is starting.
    if (!recording && !playing && !run.Busy() && wav &&
        wav->recording_files() == CWavRecord::Files::kRemoved)
        file_path[0] = '\0';
    if (playing || !file_path[0])
        return RefusePlayStart("(Play) Play skip(1)...\n");
    if (recording)
        return RefusePlayStart("(Play) Play skip(2)...\n");
    // Asked before the next refusal: a stop that the previous worker has not
    // seen yet must not be taken back.
    if (run.Busy()) {
        LogMessage(kUnit, __LINE__, "(Play) Play skip(4)...\n");
        return;
    }
    // A disabled play button means a message is deciding what comes next;
    // nothing is marked as playing, since no worker would ever clear it.
    if (play_button && !play_button->IsEnabled()) {
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
    if (!run.Start(RunKind::kPlay)) {
        ResetAfterPlay();
        PostRedraw();
    }
}

void CRecorderView::OnPlayStop()
{
    if (playing && !recording)
        run.RequestStop();
    else
        LogMessage(kUnit, __LINE__, "OnPlayStop Skip...\n");
}

void CRecorderView::DisableRecordAndDraw()
{
    run.DisableAndDraw(record_button);
}

void CRecorderView::DisablePlayAndDraw()
{
    run.DisableAndDraw(play_button);
}

int RecordWorker(void* param)
{
    RunControl& run = static_cast<CRecorderView*>(param)->run;
    run.Work(RunKind::kRecord);
    run.WorkerEnded();
    PostUserEvent(EVT_WORKER_ENDED, param);
    return 0;
}

int PlayWorker(void* param)
{
    RunControl& run = static_cast<CRecorderView*>(param)->run;
    run.Work(RunKind::kPlay);
    run.WorkerEnded();
    PostUserEvent(EVT_WORKER_ENDED, param);
    return 0;
}

void RunControl::WorkerEnded()
{
    // Notified under the lock: once it is let go the worker touches nothing
    // of the view's, and an owner that sees the worker ended may delete it.
    std::lock_guard<std::mutex> hold(end_lock_);
    worker_running_ = false;
    worker_ended_.notify_all();
}

RunControl::~RunControl()
{
    // The view's owner deletes it only once a worker left behind has ended.
    if (left_behind_ && !LeftBehindAtWork())
        SDL_WaitThread(left_behind_, nullptr);
}

bool RunControl::LeftBehindAtWork()
{
    std::lock_guard<std::mutex> hold(end_lock_);
    return abandoned_ && worker_running_;
}

// ---- The run's life ----

SDL_Thread*& RunControl::ThreadOf(RunKind kind)
{
    return kind == RunKind::kRecord ? view_.record_thread : view_.play_thread;
}

void RunControl::SetState(RunState state)
{
    state_ = state;
    view_.recording = state == RunState::kRecording;
    view_.playing = state == RunState::kPlaying;
}

bool RunControl::Busy()
{
    return (view_.record_thread || view_.play_thread) && worker_running_;
}

bool RunControl::Start(RunKind kind)
{
    // A worker that has returned, whose end is still on its way.
    Reap();
    // Requests belong to the run they were made in.
    view_.stop_request = false;
    view_.exit_request = false;
    outcome_shown_ = false;
    worker_running_ = true;
    const bool record = kind == RunKind::kRecord;
    SDL_Thread* thread = SDL_CreateThread(record ? RecordWorker : PlayWorker, &view_);
    if (!thread) {
        worker_running_ = false;
        LogMessage(kUnit, __LINE__, "Can't start the %s: %s\n", record ? "recording" : "playback",
                   SDL_GetError());
        return false;
    }
    ThreadOf(kind) = thread;
    SetState(record ? RunState::kRecording : RunState::kPlaying);
    return true;
}

void RunControl::RequestStop()
{
    const RunState now = state_;
    if (now != RunState::kRecording && now != RunState::kPlaying)
        return;
    view_.stop_request = true;
    SetState(RunState::kStopping);
    WakeWorker();
}

namespace {

Uint32 PostExitOverdue(Uint32, void* view)
{
    PostUserEvent(EVT_EXIT_OVERDUE, view, nullptr);
    return 0;
}

}  // namespace

void RunControl::RequestExit()
{
    StartLeave();
    view_.exit_request = true;
    WakeWorker();
    // The worker answers within the leave, a stalled card's included; one
    // that does not is held by a device that hangs.
    if (!exit_timer_)
        exit_timer_ = SDL_AddTimer(static_cast<Uint32>(leave_->Within(budget::kLeave).count()),
                                   PostExitOverdue, &view_);
}

void RunControl::CloseForCardGone()
{
    StartLeave();
    {
        std::lock_guard<std::mutex> hold(end_lock_);
        if (card_gone_ != CardGone::kNo)
            return;
        card_gone_ = CardGone::kAsked;
    }
    WakeWorker();
    // The worker may be waiting for this thread to draw its button.
    const DrawWaitRelease release(*this);
    std::unique_lock<std::mutex> hold(end_lock_);
    worker_ended_.wait_for(hold, LeaveWithin(budget::kLeave),
                           [this] { return card_gone_ == CardGone::kClosed || !worker_running_; });
}

void RunControl::CloseIfCardGone(RunKind kind)
{
    if (card_gone_ != CardGone::kAsked)
        return;
    if (view_.wav) {
        if (kind == RunKind::kRecord)
            view_.wav->record_close();
        else
            view_.wav->play_close();
    }
    std::lock_guard<std::mutex> hold(end_lock_);
    card_gone_ = CardGone::kClosed;
    worker_ended_.notify_all();
}

void RunControl::StartLeave()
{
    leave_->Start();
}

std::chrono::milliseconds RunControl::LeaveWithin(std::chrono::milliseconds bound) const
{
    return leave_->Within(bound);
}

bool RunControl::ExitOverdue()
{
    DisarmExitTimer();
    return worker_running_ && view_.exit_request;
}

void RunControl::DisarmExitTimer()
{
    // One-shot: it may have fired already, and then removes nothing.
    if (exit_timer_)
        SDL_RemoveTimer(exit_timer_);
    exit_timer_ = nullptr;
}

void RunControl::WakeWorker()
{
    // The request is set first, so the worker sees it when its wait ends:
    // the play worker's in the device for room for its block, the record
    // worker's for its next second. Neither call waits on a device.
    if (!view_.wav)
        return;
    if (view_.play_thread)
        view_.wav->play_stop();
    if (view_.record_thread)
        view_.wav->dsp_wake();
}

RunControl::Reaped RunControl::Reap()
{
    // An end that was still queued when the next run began is not that
    // run's: a worker still at work is left alone.
    if (worker_running_)
        return Reaped();
    return ReapWorkers(true, true);
}

RunControl::Reaped RunControl::Reap(RunKind kind)
{
    return ReapWorkers(kind == RunKind::kRecord, kind == RunKind::kPlay);
}

RunControl::Reaped RunControl::ReapWorkers(bool record, bool play, std::chrono::milliseconds bound)
{
    Reaped reaped;
    for (const RunKind kind : {RunKind::kRecord, RunKind::kPlay}) {
        SDL_Thread*& thread = ThreadOf(kind);
        if (!thread || !(kind == RunKind::kRecord ? record : play))
            continue;
        if (!Join(thread, bound))
            return reaped;
        reaped.any = true;
        reaped.kind = kind;
    }
    if (!reaped.any)
        return reaped;
    DisarmExitTimer();
    reaped.outcome_shown = outcome_shown_;
    reaped.exit_unanswered = view_.exit_request.exchange(false);
    view_.stop_request = false;
    SetState(RunState::kIdle);
    if (reaped.kind == RunKind::kRecord && view_.wav) {
        // A long recording went on in further files: the last one is played.
        // One that made no file, or kept no sound, leaves nothing to play.
        const CWavRecord::Files files = view_.wav->recording_files();
        const std::string last = view_.wav->recording_path();
        if (files == CWavRecord::Files::kNone || files == CWavRecord::Files::kRemoved)
            view_.file_path[0] = '\0';
        else if (view_.file_path[0] && !last.empty())
            std::snprintf(view_.file_path, sizeof view_.file_path, "%s", last.c_str());
    }
    return reaped;
}

void RunControl::StopWorkers()
{
    DisarmExitTimer();
    if (!view_.record_thread && !view_.play_thread)
        return;
    StartLeave();
    view_.stop_request = true;
    WakeWorker();
    // A worker that ends its run does so within the leave, a stalled card's
    // included; one that does not is held by its device.
    ReapWorkers(true, true, LeaveWithin(budget::kLeave));
}

bool RunControl::Join(SDL_Thread*& thread, std::chrono::milliseconds bound)
{
    // A worker that is waiting for the main thread to draw would wait for
    // ever while the main thread waits for it.
    const DrawWaitRelease release(*this);
    {
        std::unique_lock<std::mutex> hold(end_lock_);
        if (!worker_ended_.wait_for(hold, bound, [this] { return !worker_running_; })) {
            // Left behind: what it uses must outlive the recorder, which
            // hands over to the menu program next. Joined only if it ends
            // before the view does.
            LogMessage(kUnit, __LINE__, "A worker does not end: it is left behind.\n");
            abandoned_ = true;
            left_behind_ = thread;
            thread = nullptr;
            return false;
        }
    }
    SDL_WaitThread(thread, nullptr);
    thread = nullptr;
    return true;
}

// ---- The worker ----

void RunControl::Work(RunKind kind)
{
    Finish(kind, kind == RunKind::kRecord ? RecordLoop() : PlayLoop());
}

void RunControl::ShowElapsed()
{
    if (view_.elapsed_sec != view_.shown_sec) {
        view_.shown_sec = view_.elapsed_sec.load();
        view_.PostRedraw();
    }
}

bool RunControl::AwaitCard(const std::function<bool(std::chrono::milliseconds)>& ready, RunEnd* end)
{
    while (!ready(budget::kRequestLook)) {
        // Nothing is open yet to close.
        CloseIfCardGone(RunKind::kPlay);
        if (view_.exit_request) {
            *end = RunEnd::kExit;
            return false;
        }
        if (view_.stop_request) {
            *end = RunEnd::kStop;
            return false;
        }
    }
    return true;
}

RunEnd RunControl::RecordLoop()
{
    CWavRecord* const wav = view_.wav;
    const Uint32 t0 = SDL_GetTicks();
    // Without an audio stream there is nothing to record; counting seconds
    // on screen would only pretend.
    if (!wav)
        return RunEnd::kOpenFailed;
    // The sound is taken in from the press on; a stalled card still making
    // the folder holds up the file alone, which the card's thread makes
    // after it.
    if (wav->record_open(view_.file_path) < 0)
        return RunEnd::kOpenFailed;
    LogMessage(kUnit, __LINE__, "(Record) RecordStart(%s)...\n", view_.file_path);
    view_.shown_sec = -1;
    for (;;) {
        CloseIfCardGone(RunKind::kRecord);
        view_.elapsed_sec = static_cast<int32_t>((SDL_GetTicks() - t0) / 1000);
        if (wav->file_write(wav->dsp_read()) < 0)
            return RunEnd::kFailed;
        if (view_.exit_request || view_.stop_request) {
            // A stream closed for a pulled card ends the run as a failed
            // write, whatever was asked after the close.
            if (wav->file_write(0) < 0)
                return RunEnd::kFailed;
            return view_.exit_request ? RunEnd::kExit : RunEnd::kStop;
        }
        ShowElapsed();
        // Asleep until the next whole second, when the counter turns, unless
        // a request or a failure wakes it first: sound goes to the writer
        // without it. A request set after the look above raises the signal
        // this wait ends on.
        wav->dsp_wait(static_cast<int>(1000 - (SDL_GetTicks() - t0) % 1000));
    }
}

RunEnd RunControl::PlayLoop()
{
    CWavRecord* const wav = view_.wav;
    const Uint32 t0 = SDL_GetTicks();
    if (!view_.file_path[0])
        return RunEnd::kNoFile;
    if (!wav)
        return RunEnd::kOpenFailed;
    // The recording is played once its writer has ended it: a stop that
    // came while the card stalled leaves the writer at work.
    RunEnd request;
    if (wav->recording_files() == CWavRecord::Files::kWriting) {
        LogMessage(kUnit, __LINE__,
                   "(Play) The recording is still being written: the play waits...\n");
        if (!AwaitCard([wav](std::chrono::milliseconds wait) { return wav->recording_ended(wait); },
                       &request))
            return request;
    }
    std::string path = view_.file_path;
    switch (wav->recording_files()) {
    case CWavRecord::Files::kRemoved:
        return RunEnd::kNoFile;
    case CWavRecord::Files::kKept:
        path = wav->recording_path();
        break;
    default:
        break;
    }
    const int opened = wav->play_open(path.c_str());
    // -1: the device is open already, which a message would not explain.
    if (opened == -1)
        return RunEnd::kOpenRefused;
    if (opened < 0)
        return RunEnd::kOpenFailed;
    LogMessage(kUnit, __LINE__, "(Play) PlayStart...\n");
    view_.shown_sec = -1;
    for (;;) {
        CloseIfCardGone(RunKind::kPlay);
        view_.elapsed_sec = static_cast<int32_t>((SDL_GetTicks() - t0) / 1000);
        // The device paces this loop: each block returns once the device
        // has taken it, and the end of the data once all has played.
        const int played = wav->dsp_write(wav->file_read());
        if (played == -3)
            return RunEnd::kDeviceFailed;
        if (played < 0)
            return RunEnd::kDataEnded;
        if (view_.exit_request)
            return RunEnd::kExit;
        if (view_.stop_request)
            return RunEnd::kStop;
        ShowElapsed();
    }
}

namespace {

// What the end of a run does, in this order: disable the worker's button
// and see it drawn, take up the stop, post the first event, log, rewrite the
// header, close, show the message, log again, post the last event.
struct EndPath {
    RunKind kind;
    RunEnd end;
    bool disable;
    bool takes_stop;
    int event_before;  // 0: none
    const char* log_before;
    bool rewrite_header;
    bool close;
    int message;  // -1: none
    const char* log_after;
    int event_after;  // 0: none
};

}  // namespace

void RunControl::Finish(RunKind kind, RunEnd end)
{
    using K = RunKind;
    using E = RunEnd;
    // clang-format off
    static const EndPath kPaths[] = {
        {K::kRecord, E::kOpenFailed, true, false, 0, nullptr, false, true, MSG_RECORD_FAILED, nullptr,
         EVT_RECORD_FAILED},
        {K::kRecord, E::kFailed, true, false, 0, nullptr, true, true, MSG_RECORD_FAILED,
         "(Record) Write abort...\n", 0},
        {K::kRecord, E::kExit, true, false, 0, nullptr, true, true, -1, nullptr, EVT_RECORD_EXIT},
        {K::kRecord, E::kStop, true, true, EVT_RECORD_STOPPING,
         "(Record) Pressed stop button & soundcard closed...\n", true, true, -1, nullptr,
         EVT_RECORD_FINISHED},
        {K::kPlay, E::kNoFile, false, false, 0, nullptr, false, false, -1, "(Play) No filename.\n",
         EVT_PLAY_NO_FILE},
        {K::kPlay, E::kOpenFailed, false, false, 0, nullptr, false, false, MSG_PLAY_FAILED, nullptr, 0},
        {K::kPlay, E::kOpenRefused, false, false, 0, nullptr, false, false, -1, nullptr, 0},
        {K::kPlay, E::kDataEnded, true, false, 0, nullptr, false, true, -1,
         "(Play) Finished the song & soundcard closed...\n", EVT_PLAY_FINISHED},
        {K::kPlay, E::kDeviceFailed, true, false, 0, nullptr, false, true, MSG_PLAY_FAILED,
         "(Play) The soundcard failed & soundcard closed...\n", 0},
        {K::kPlay, E::kExit, true, false, 0, nullptr, false, true, -1, nullptr, EVT_PLAY_EXIT},
        {K::kPlay, E::kStop, true, true, 0, "(Play) Pressed stop button & soundcard closing...\n",
         false, true, -1, nullptr, EVT_PLAY_FINISHED},
    };
    // clang-format on
    const EndPath* path = nullptr;
    for (const EndPath& p : kPaths)
        if (p.kind == kind && p.end == end)
            path = &p;
    if (!path)
        return;
    CWavRecord* const wav = view_.wav;
    const bool record = kind == RunKind::kRecord;
    if (path->disable) {
        if (record)
            view_.DisableRecordAndDraw();
        else
            view_.DisablePlayAndDraw();
    }
    if (path->takes_stop)
        view_.stop_request = false;
    if (path->event_before)
        view_.PostUserEvent(path->event_before, &view_, nullptr);
    if (path->log_before)
        LogMessage(kUnit, __LINE__, "%s", path->log_before);
    if (wav && path->rewrite_header)
        wav->header_update();
    if (wav && path->close) {
        if (record)
            wav->record_close();
        else
            wav->play_close();
    }
    if (path->message >= 0 && view_.msg_box) {
        view_.msg_box->ShowOutcome(path->message);
        outcome_shown_ = true;
    }
    if (path->log_after)
        LogMessage(kUnit, __LINE__, "%s", path->log_after);
    if (path->event_after)
        view_.PostUserEvent(path->event_after, &view_, nullptr);
}

// ---- Frames ----

uint64_t RunControl::FrameBegun()
{
    std::lock_guard<std::mutex> hold(frame_lock_);
    return ++frames_begun_;
}

void RunControl::FrameFlipped(uint64_t frame)
{
    {
        std::lock_guard<std::mutex> hold(frame_lock_);
        frames_flipped_ = frame;
    }
    frame_drawn_.notify_all();
}

void RunControl::DisableAndDraw(CMemButton* button)
{
    if (button)
        button->Disable();
    std::unique_lock<std::mutex> hold(frame_lock_);
    if (draw_waits_released_ > 0)
        return;
    const uint64_t after = frames_begun_;
    hold.unlock();
    view_.PostRedraw();
    hold.lock();
    // Bounded: the callers hold the status monitor or end a run, and a main
    // thread that no longer draws must not keep either for ever.
    frame_drawn_.wait_for(hold, LeaveWithin(budget::kDraw),
                          [&] { return frames_flipped_ > after || draw_waits_released_ > 0; });
}

void RunControl::ReleaseDrawWaitsForGood()
{
    {
        std::lock_guard<std::mutex> hold(frame_lock_);
        ++draw_waits_released_;
    }
    frame_drawn_.notify_all();
}

RunControl::DrawWaitRelease::DrawWaitRelease(RunControl& run) : run_(run)
{
    run_.ReleaseDrawWaitsForGood();
}

RunControl::DrawWaitRelease::~DrawWaitRelease()
{
    std::lock_guard<std::mutex> hold(run_.frame_lock_);
    --run_.draw_waits_released_;
}
