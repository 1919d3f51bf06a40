#pragma once
// Calls off a wait in poll from another thread: the waiting thread polls
// fd() beside its device, another thread writes a byte with Wake. The byte
// stays until Drain takes it, so a wake-up that comes before the wait is
// not lost. Both ends are non-blocking and closed on exec.

class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // The end to poll for POLLIN; -1 when no pipe could be had (a wait then
    // ends only on its own terms).
    int fd() const { return read_; }
    void Wake();
    void Drain();

private:
    int read_ = -1;
    int write_ = -1;
};
