#pragma once
// Runs the real recorder on a fresh simulated handheld and collects what it
// left behind.

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct Run {
    bool exited = false;  // ended by itself (not by a signal)
    int exit_code = -1;   // when exited
    int signal = 0;       // when killed by a signal
    bool timed_out = false;
    double seconds = 0;
    std::string out;  // standard output: the recorder's diagnostic lines
    std::string err;  // standard error: the simulator's notices, crashes
    std::vector<std::string> OutLines() const;
    // The diagnostic lines without their "<unit>_<line>]  " prefix; a line of
    // another shape is kept whole.
    std::vector<std::string> Messages() const;
    // How many diagnostic lines carry exactly this message.
    int Count(const std::string& message) const;
};

// Splits a diagnostic line "<unit>_<line>]  <message>"; false when the line
// has another shape.
bool ParseLogLine(const std::string& line, std::string* unit, std::string* message);

// Empty when `expected` occur in `messages` in this order (other lines may
// come between); else the first expected message that was not found. An
// expected message ending in '*' stands for every message it begins.
std::string MissingInOrder(const std::vector<std::string>& messages,
                           const std::vector<std::string>& expected);

// What in a run's standard error tells of a sanitizer's report or a crash;
// empty when nothing does. Every Start fails the running test on it.
std::string CrashReport(const std::string& err);

// A fresh handheld root in a folder of its own, removed at the end.
class Handheld {
public:
    explicit Handheld(const std::string& language = "en_US.utf8");
    ~Handheld();
    Handheld(const Handheld&) = delete;
    Handheld& operator=(const Handheld&) = delete;

    const std::string& root() const { return root_; }
    std::string Path(const std::string& handheld_path) const { return root_ + handheld_path; }
    // The lines the menu program wrote, one per start.
    std::vector<std::string> MenuLog() const;
    // The names in a folder of the handheld, sorted; empty when it is no folder.
    std::vector<std::string> List(const std::string& handheld_path) const;

    // The folder the recorder runs in (it loads ./res from there); the
    // repository's root when none is set.
    void SetWorkingDir(const std::string& dir) { working_dir_ = dir; }

    // Runs the recorder with this scenario until it ends or the time is up.
    Run Start(const std::string& scenario, double timeout_seconds = 30,
              const std::map<std::string, std::string>& env = {}) const;

private:
    std::string root_;
    std::string working_dir_;
};

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);  // a folder itself, not a link to one

// The menu program's line for a hand-off with this view argument.
std::string MenuLine(const std::string& view);

}  // namespace e2e
