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
};

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

    // Runs the recorder with this scenario until it ends or the time is up.
    Run Start(const std::string& scenario, double timeout_seconds = 30,
              const std::map<std::string, std::string>& env = {}) const;

private:
    std::string root_;
};

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

}  // namespace e2e
