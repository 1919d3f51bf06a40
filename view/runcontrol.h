#pragma once
// Run control: a run is one recording or one playback, driven by a worker
// thread. This unit owns everything a run is made of: the one-worker rule,
// the worker and its loop, the stop and exit requests, the run's state, the
// end of the run whichever way it comes, and the worker's wait for a frame
// that shows its button disabled.
//
// States, and who moves between them:
//   idle      -> recording / playing   Start (main thread)
//   recording -> stopping              RequestStop (main thread)
//   playing   -> stopping              RequestStop (main thread)
//   any       -> idle                  Reap, once the worker has returned
// The view's flags follow: recording and playing are set exactly in their
// states, stop_request and exit_request live no longer than the run.
//
// Every worker's last act is EVT_WORKER_ENDED, so every run is reaped on the
// main thread however it ended, whether or not a message could tell of it.

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "app/budget.h"

class CRecorderView;
class CMemButton;

enum class RunKind { kRecord, kPlay };
enum class RunState { kIdle, kRecording, kPlaying, kStopping };
// How a worker's loop ended.
enum class RunEnd {
    kNoFile,
    kOpenFailed,
    kOpenRefused,
    kDataEnded,
    kDeviceFailed,
    kFailed,
    kExit,
    kStop
};

class RunControl {
public:
    explicit RunControl(CRecorderView& view) : view_(view) {}
    ~RunControl();
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    RunState state() const { return state_; }

    // Main thread. True while a worker is at work; one that has returned is
    // reaped on the way, so the answer is never stale.
    bool Busy();
    // Starts the worker of a new run; false (logged) when no thread can be
    // made, and nothing is left set.
    bool Start(RunKind kind);
    // The user's stop: the worker finishes the run.
    void RequestStop();
    // Leaving the application: the worker ends the run and says so.
    void RequestExit();
    // The card is gone, and the application leaves: the worker closes the
    // stream it drives, without a header rewrite, so its next block fails
    // and the run ends as on a card that refuses it. Returns once the
    // stream is closed, or when the leave, which begins here, runs out.
    void CloseForCardGone();
    // Joins a worker that has returned and puts everything back to idle.
    struct Reaped {
        bool any = false;  // there was a worker to join
        RunKind kind = RunKind::kRecord;
        bool exit_unanswered = false;  // an exit was asked for and not taken up
        bool outcome_shown = false;    // a message tells how the run ended
    };
    // Reap() takes only a worker that has returned; Reap(kind) waits for
    // the last moments of that kind's worker, which has posted its end.
    Reaped Reap();
    Reaped Reap(RunKind kind);
    // Asks a worker to stop and waits for it (teardown, leaving), as long as
    // a worker that answers needs; one held by a device that hangs is left
    // behind (LeftBehindAtWork), with what it uses.
    void StopWorkers();
    // A worker left behind is still at work: what it uses must stay.
    bool LeftBehindAtWork();
    // The leave has begun: from now on every wait on its way, on any
    // thread, ends by its deadline. The first call holds.
    void StartLeave();
    // `bound`, or what is left of the leave when that is shorter.
    std::chrono::milliseconds LeaveWithin(std::chrono::milliseconds bound) const;
    std::shared_ptr<const budget::Deadline> Leave() const { return leave_; }
    // Main thread, on EVT_EXIT_OVERDUE: true when the leave asked for is
    // still unanswered by a worker still at work.
    bool ExitOverdue();

    // The frames the main thread draws, for a thread that must see its
    // button disabled on screen before it goes on.
    uint64_t FrameBegun();
    void FrameFlipped(uint64_t frame);
    void DisableAndDraw(CMemButton* button);
    // From now on nobody waits for a frame: the main thread draws no more.
    void ReleaseDrawWaitsForGood();

    // While one lives, no thread waits for the main thread to draw: the main
    // thread is about to wait for a worker.
    class DrawWaitRelease {
    public:
        explicit DrawWaitRelease(RunControl& run);
        ~DrawWaitRelease();
        DrawWaitRelease(const DrawWaitRelease&) = delete;
        DrawWaitRelease& operator=(const DrawWaitRelease&) = delete;

    private:
        RunControl& run_;
    };

private:
    friend int RecordWorker(void* param);
    friend int PlayWorker(void* param);

    SDL_Thread*& ThreadOf(RunKind kind);
    void SetState(RunState state);
    void Work(RunKind kind);
    // Waits for `ready` (asked with how long it may wait) while the card is
    // busy, looking at the run's requests between: false, with the request's
    // end, when one came first.
    bool AwaitCard(const std::function<bool(std::chrono::milliseconds)>& ready, RunEnd* end);
    RunEnd RecordLoop();
    RunEnd PlayLoop();
    // The end of a run, one table for both kinds of worker.
    void Finish(RunKind kind, RunEnd end);
    // Asks for a redraw when the counter has moved on a second.
    void ShowElapsed();
    // Lets the worker see a request at once, whatever it waits on.
    void WakeWorker();
    // The worker's side of CloseForCardGone, on each pass of its loops.
    void CloseIfCardGone(RunKind kind);
    // Joins a worker once it has ended, waiting `bound` at most; false (the
    // worker left behind) when it has not.
    bool Join(SDL_Thread*& thread, std::chrono::milliseconds bound);
    void WorkerEnded();
    void DisarmExitTimer();
    Reaped ReapWorkers(bool record, bool play,
                       std::chrono::milliseconds bound = budget::kWorkerEnd);

    CRecorderView& view_;
    std::atomic<RunState> state_{RunState::kIdle};
    // Cleared by the worker as its very last act, under end_lock_.
    std::atomic<bool> worker_running_{false};
    std::mutex end_lock_;
    std::condition_variable worker_ended_;
    enum class CardGone { kNo, kAsked, kClosed };
    std::atomic<CardGone> card_gone_{CardGone::kNo};
    bool abandoned_ = false;
    SDL_Thread* left_behind_ = nullptr;
    const std::shared_ptr<budget::Deadline> leave_ = std::make_shared<budget::Deadline>();
    SDL_TimerID exit_timer_ = nullptr;
    // Written by the worker, read once it has been joined.
    bool outcome_shown_ = false;

    std::mutex frame_lock_;
    std::condition_variable frame_drawn_;
    uint64_t frames_begun_ = 0;
    uint64_t frames_flipped_ = 0;
    // > 0: nobody may wait for a frame.
    int draw_waits_released_ = 0;
};
