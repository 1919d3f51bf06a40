#pragma once
// What the simulated SD card does beyond holding files: it stalls writes
// and syncs the way real cards do (wear levelling, allocation), and it
// keeps what it was last told to keep, so a power cut can take it back
// there. The platform calls (sys_sim.cpp) report every change they make on
// the card here; the scenario player and tests set the stalls and cut the
// power.
//
// Durability follows what a careful program may count on and no more:
// fdatasync on a file keeps its contents; fdatasync on a folder keeps its
// entries (which names exist); sync keeps everything. Closing keeps
// nothing. Files and folders that were on the card before the first change
// count as kept.
// Every function here is safe from any thread.

#include <sys/types.h>

#include <functional>
#include <string>

namespace sim {
namespace sdcard {

// Writes and syncs on the card stall for `stall_ms` from now, and again
// every `every_ms` after that when it is positive. 0 ms: no more stalls. A
// new setting takes over a stall in progress.
void SetStall(long stall_ms, long every_ms);
// Waits out a stall in progress, if any. Called before a write or a sync.
void WaitOutStall();

// Reports from the platform calls, with host paths.
// Before a call that may create, truncate or write a file (open with
// O_CREAT or O_TRUNC, or a write): keeps what its folder and the file hold
// now, if nothing was kept of them yet.
void BeforeChange(const std::string& host_path);
// Before an entry is made or removed in a folder (mkdir, unlink).
void BeforeEntryChange(const std::string& host_path);
// An open descriptor of a card file or folder, and its end.
void Opened(int fd, const std::string& host_path);
void Closed(int fd);
// Before a write through `fd`, and after it: `count` bytes at `offset`.
void BeforeWrite(int fd);
void Written(int fd, off_t offset, size_t count);
// fdatasync on a descriptor: a file keeps its contents, a folder its entries.
void Synced(int fd);
// sync(): the whole card is kept as it is.
void SyncedAll();
// How many descriptors of card files and folders the platform calls hold
// open now: 0 once every file a program made has been closed.
size_t OpenFiles();

// For tests of what happens between the making of a file and its first
// write: `act` runs once, on the thread that made it, just after the next
// file is created on the card.
void AfterNextCreate(std::function<void()> act);
// Reports that a file was created; runs the act above if one is set.
void Created();

// Whatever is on the card now counts as kept, as at the start (for tests
// that lay out the card behind the simulator's back).
void KeepAsItIs();

// Cuts the power: every file and folder on the card goes back to what was
// last kept, and the process dies at once (SIGKILL). Never returns.
[[noreturn]] void PowerCut();

// The changes made by the platform calls are serialised with a power cut
// by holding this while they are made.
class ChangeGuard {
public:
    ChangeGuard();
    ~ChangeGuard();
    ChangeGuard(const ChangeGuard&) = delete;
    ChangeGuard& operator=(const ChangeGuard&) = delete;
};

}  // namespace sdcard
}  // namespace sim
