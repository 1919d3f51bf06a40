#include "tests/e2e/harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

std::vector<std::string> Run::OutLines() const
{
    return Lines(out);
}

bool ParseLogLine(const std::string& line, std::string* unit, std::string* message)
{
    // "<unit>_<line, %4d>]  <message>"
    const size_t end = line.find("]  ");
    if (end == std::string::npos || end < 6 || line[end - 5] != '_')
        return false;
    // Spaces, then at least one digit.
    const std::string number = line.substr(end - 4, 4);
    const size_t digits = number.find_first_not_of(' ');
    if (digits == std::string::npos ||
        number.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    const std::string name = line.substr(0, end - 5);
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".cpp") != 0)
        return false;
    *unit = name;
    *message = line.substr(end + 3);
    return true;
}

std::vector<std::string> Run::Messages() const
{
    std::vector<std::string> messages;
    for (const std::string& line : OutLines()) {
        std::string unit;
        std::string message;
        messages.push_back(ParseLogLine(line, &unit, &message) ? message : line);
    }
    return messages;
}

int Run::Count(const std::string& message) const
{
    const std::vector<std::string> messages = Messages();
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

std::string MissingInOrder(const std::vector<std::string>& messages,
                           const std::vector<std::string>& expected)
{
    auto at = messages.begin();
    for (const std::string& line : expected) {
        const bool prefix = !line.empty() && line.back() == '*';
        const std::string want = prefix ? line.substr(0, line.size() - 1) : line;
        at = std::find_if(at, messages.end(), [&](const std::string& message) {
            return prefix ? message.rfind(want, 0) == 0 : message == want;
        });
        if (at == messages.end())
            return line;
        ++at;
    }
    return {};
}

std::string CrashReport(const std::string& err)
{
    static const char* const kMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                         "runtime error:", "WARNING: ThreadSanitizer",
                                         "handheld: the recorder crashed"};
    for (const char* mark : kMarks)
        if (err.find(mark) != std::string::npos)
            return mark;
    return {};
}

std::string MenuLine(const std::string& view)
{
    return "cwd=/usr/orvo argc=1 args=" + view + " inherited=none";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Handheld::Handheld(const std::string& language)
{
    char folder[] = "/tmp/recorder-e2e-XXXXXX";
    if (!mkdtemp(folder))
        throw std::runtime_error("mkdtemp");
    root_ = folder;
    const std::string lay_out = std::string(HANDHELD_ROOT_TOOL) + " " + root_ + " " + language;
    if (std::system(lay_out.c_str()) != 0)
        throw std::runtime_error("handheld-root failed");
}

Handheld::~Handheld()
{
    if (!getenv("KEEP_HANDHELD_ROOT"))
        nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> Handheld::MenuLog() const
{
    return Lines(ReadFile(root_ + "/sim/menu.log"));
}

std::vector<std::string> Handheld::List(const std::string& handheld_path) const
{
    std::vector<std::string> names;
    DIR* folder = ::opendir(Path(handheld_path).c_str());
    if (!folder)
        return names;
    while (const struct dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

Run Handheld::Start(const std::string& scenario, double timeout_seconds,
                    const std::map<std::string, std::string>& env) const
{
    const std::string script = root_ + "/sim/scenario.txt";
    std::ofstream(script) << scenario;

    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const size_t eq = entry.find('=');
        vars[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    vars["HANDHELD_ROOT"] = root_;
    vars["HANDHELD_SCRIPT"] = script;
    vars["SDL_VIDEODRIVER"] = "dummy";
    vars["SDL_AUDIODRIVER"] = "dummy";
    // The simulator's own lines tell what it did in order with the
    // recorder's, which is what a test on a loaded machine can rely on.
    vars["HANDHELD_TRACE"] = "1";
    for (const auto& [key, value] : env) {
        if (value.empty())
            vars.erase(key);
        else
            vars[key] = value;
    }
    std::vector<std::string> entries;
    for (const auto& [key, value] : vars)
        entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    // Started with nothing of the test's: what the menu program inherits is
    // the recorder's own.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (!working_dir_.empty())
        posix_spawn_file_actions_addchdir_np(&actions, working_dir_.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    char program[] = RECORDER_BIN;
    char* argv[] = {program, nullptr};
    pid_t pid = 0;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, program, &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (spawned != 0)
        throw std::runtime_error("posix_spawn");

    Run run;
    const auto deadline =
        started + std::chrono::milliseconds(static_cast<long>(timeout_seconds * 1000));
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open_pipes = 2;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            run.timed_out = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left)) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.exited = WIFEXITED(status);
    run.exit_code = run.exited ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    // A sanitizer reports on the recorder's standard error and may let the
    // program go on; the report alone fails the test.
    const std::string crash = CrashReport(run.err);
    if (!crash.empty())
        ADD_FAILURE() << "the recorder's standard error reports \"" << crash << "\":\n" << run.err;
    return run;
}

}  // namespace e2e
