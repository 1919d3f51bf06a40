#include "tests/e2e/checks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tests/e2e/screen.h"

namespace e2e {

Scenario& Scenario::At(long at_ms, const std::string& command)
{
    lines_.emplace_back(at_ms, command);
    return *this;
}

Scenario& Scenario::Tap(long at_ms, const std::string& what, long hold_ms)
{
    const size_t space = what.find(' ');
    const std::string device = what.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : what.substr(space);
    At(at_ms, device + " down" + rest);
    return At(at_ms + hold_ms, device + " up" + rest);
}

std::string Scenario::Text() const
{
    std::vector<std::pair<long, std::string>> sorted = lines_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::ostringstream text;
    for (const auto& [at_ms, command] : sorted)
        text << at_ms << ' ' << command << '\n';
    return text.str();
}

time_t UtcTime(const std::string& clock)
{
    struct tm when {};
    if (!strptime(clock.c_str(), "%Y-%m-%d %H:%M:%S", &when))
        return -1;
    return timegm(&when);
}

std::string RecordingName(time_t start)
{
    struct tm when {};
    gmtime_r(&start, &when);
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d%02d%02d%02d.wav", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return name;
}

namespace {

// The menu's line for this view, or for any view when it is empty.
bool MenuLineFits(const std::string& line, const std::string& view)
{
    if (!view.empty())
        return line == MenuLine(view);
    const std::string model = MenuLine("\x01");
    const size_t at = model.find('\x01');
    const std::string before = model.substr(0, at), after = model.substr(at + 1);
    return line.size() > model.size() - 1 && line.compare(0, before.size(), before) == 0 &&
           line.compare(line.size() - after.size(), after.size(), after) == 0;
}

}  // namespace

::testing::AssertionResult EndedWith(const Run& run, const Handheld& handheld,
                                     const std::string& view)
{
    if (run.timed_out)
        return ::testing::AssertionFailure() << "still running at the time limit\n"
                                             << run.out << run.err;
    if (!run.exited)
        return ::testing::AssertionFailure() << "killed by signal " << run.signal << "\n"
                                             << run.out << run.err;
    if (run.exit_code != 0)
        return ::testing::AssertionFailure() << "exit status " << run.exit_code << "\n"
                                             << run.out << run.err;
    const std::string crash = CrashReport(run.err);
    if (!crash.empty())
        return ::testing::AssertionFailure() << crash << "\n" << run.err;
    const std::vector<std::string> menu = handheld.MenuLog();
    if (menu.size() != 1 || !MenuLineFits(menu[0], view)) {
        auto failure = ::testing::AssertionFailure();
        failure << "expected the menu started once with " << (view.empty() ? "a view" : view)
                << " and nothing inherited; menu.log:";
        for (const std::string& line : menu)
            failure << "\n  " << line;
        return failure << "\n" << run.out;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsCounterRecording(const Wav& wav)
{
    const std::string fault = support::RecordingFault(wav, support::kPartFrame);
    if (!fault.empty())
        return ::testing::AssertionFailure() << fault;
    return ::testing::AssertionSuccess();
}

namespace {

constexpr const char* kCaptureClosed = "capture closed: ";
constexpr const char* kCaptureAt = "capture: ";

// A "capture: <n> bytes read" line's n; -1 for another line.
long long ReadSoFar(const std::string& message)
{
    long long bytes = -1;
    if (message.rfind(kCaptureAt, 0) != 0 ||
        std::sscanf(message.c_str() + std::strlen(kCaptureAt), "%lld bytes read", &bytes) != 1)
        return -1;
    return bytes;
}

// A "capture closed: <n> bytes read, <m> dropped" line, read.
bool ReadClosed(const std::string& message, long long* read, long long* dropped)
{
    return std::sscanf(message.c_str() + std::strlen(kCaptureClosed),
                       "%lld bytes read, %lld dropped", read, dropped) == 2;
}

bool IsCommand(const std::string& message, const std::string& command)
{
    if (message == command)
        return true;
    return message.rfind("scenario at ", 0) == 0 && message.size() > command.size() + 2 &&
           message.compare(message.size() - command.size() - 2, std::string::npos,
                           ": " + command) == 0;
}

}  // namespace

std::vector<long long> CapturesRead(const Run& run)
{
    std::vector<long long> read;
    for (const std::string& message : run.Messages())
        if (message.rfind(kCaptureClosed, 0) == 0) {
            long long bytes = -1;
            long long dropped = -1;
            read.push_back(ReadClosed(message, &bytes, &dropped) ? bytes : -1);
        }
    return read;
}

long long CaptureReadAt(const Run& run, const std::string& command)
{
    const std::vector<std::string> messages = run.Messages();
    for (size_t i = 0; i + 1 < messages.size(); ++i)
        if (IsCommand(messages[i], command))
            return ReadSoFar(messages[i + 1]);
    return -1;
}

::testing::AssertionResult HoldsItsCapture(const Run& run, const Wav& wav, size_t index,
                                           const std::string& stop)
{
    bool stopped = stop.empty();
    size_t closed = 0;
    for (const std::string& message : run.Messages()) {
        if (!stopped && IsCommand(message, stop))
            stopped = true;
        if (message.rfind(kCaptureClosed, 0) != 0 || closed++ != index)
            continue;
        if (!stopped)
            return ::testing::AssertionFailure() << "the capture closed before " << stop;
        long long read = -1;
        long long dropped = -1;
        if (!ReadClosed(message, &read, &dropped))
            return ::testing::AssertionFailure() << "unreadable: " << message;
        // A reader that stopped reading would leave a whole file of what
        // it did read; the card then drops the rest.
        if (dropped != 0)
            return ::testing::AssertionFailure()
                   << "the card dropped " << dropped << " bytes nobody read in time";
        if (static_cast<long long>(wav.data.size()) != read)
            return ::testing::AssertionFailure() << "the file holds " << wav.data.size()
                                                 << " bytes, its capture handed over " << read;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << closed << " captures closed, none " << index << "-th";
}

::testing::AssertionResult NamedFromClock(const std::string& name, time_t from, time_t to)
{
    for (time_t t = from; t <= to; ++t)
        if (name == RecordingName(t))
            return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << name << " is not named from a time between "
                                         << RecordingName(from) << " and " << RecordingName(to);
}

int MessageOnShot(const Handheld& handheld, const std::string& shot)
{
    static const Image strip = MessageStrip();
    return ShownMessage(ReadBmp(handheld.Path("/sim/" + shot)), strip);
}

}  // namespace e2e
