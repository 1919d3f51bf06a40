#pragma once
// The simulated handheld's own state: what a person could do to the device
// (pull the card, flip HOLD, drain the battery, set the clock) and where its
// file system lives on the PC. One machine per process, like the real one.
// Changed by the scenario player, the window's function keys and in-process
// tests; read by the platform calls. Every member is safe from any thread.

#include <sys/types.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace sim {

enum class CardState { kIn, kOut, kLocked };

class Handheld {
public:
    Handheld(const Handheld&) = delete;
    Handheld& operator=(const Handheld&) = delete;

    // The folder that stands for the handheld's root, canonical, without a
    // trailing slash. Empty when HANDHELD_ROOT is not set.
    std::string Root();
    void SetRoot(const std::string& folder);
    // Exits the process with a plain message when there is no usable root:
    // nothing may fall through to the PC's own /mnt, /dev or /usr.
    void RequireRoot();

    // The host path of a handheld path: absolute paths go into the root with
    // "." and ".." folded and symbolic links resolved inside the root, as a
    // chroot would (an absolute target starts at the root, ".." in a target
    // stops there); the last part is left a link unless `follow_last`.
    // Relative paths are left alone. Empty (errno set) when the path given
    // would climb out of the root, or on a loop of links (ELOOP).
    std::string MapPath(const char* path, bool follow_last = true);
    // True when the host path lies on the SD card (/mnt/sd below the root).
    bool OnCard(const std::string& host_path);

    CardState Card() const { return card_.load(); }
    void SetCard(CardState state);
    // Free space on the card in bytes; negative for unlimited.
    int64_t CardFree() const { return card_free_.load(); }
    void SetCardFree(int64_t bytes) { card_free_.store(bytes); }
    // Takes up to `want` bytes of the card's free space; returns how many it got.
    int64_t TakeCardSpace(int64_t want);

    // Whether /dev/GPIO is there; opens fail with ENOENT when it is not.
    bool GpioPresent() const { return gpio_present_.load(); }
    void SetGpioPresent(bool present) { gpio_present_.store(present); }

    bool Hold() const { return hold_.load(); }
    void SetHold(bool on) { hold_.store(on); }
    int Battery() const { return battery_.load(); }
    void SetBattery(int level) { battery_.store(level); }

    // The handheld's clock: the PC's clock moved by an offset.
    time_t Now() const { return ::time(nullptr) + clock_offset_.load(); }
    void SetClock(time_t handheld_now) { clock_offset_.store(handheld_now - ::time(nullptr)); }

    static Handheld& Instance();

private:
    Handheld() = default;

    std::mutex root_lock_;
    std::string root_;
    bool root_read_ = false;
    std::atomic<CardState> card_{CardState::kIn};
    std::atomic<int64_t> card_free_{-1};
    std::atomic<bool> gpio_present_{true};
    std::atomic<bool> hold_{false};
    std::atomic<int> battery_{1};
    std::atomic<time_t> clock_offset_{0};
};

// Writes one notice of the simulator to standard error ("handheld: ...").
// Standard output belongs to the recorder's own diagnostic lines.
void Notice(const char* format, ...) __attribute__((format(printf, 1, 2)));

// With HANDHELD_TRACE set (and not "0"): writes one line into the recorder's
// own stream, so a test reads what the simulator did in order with what the
// recorder logged, whatever the machine's load did to the timing.
bool Tracing();
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
