#include "view/recordfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "app/cardchores.h"
#include "app/logmessage.h"
#include "platform/sys.h"

namespace {

constexpr const char* kUnit = "recorderview.cpp";
constexpr const char* kRecordFolder = "/mnt/sd/music/rec";
constexpr const char* kWriteProbe = "/mnt/sd/%%_tmp_.tmp%%";
constexpr unsigned kTypeMask = 0xF000;
constexpr unsigned kTypeFolder = 0x4000;
constexpr unsigned kTypeRegular = 0x8000;

unsigned TypeOf(const char* path)
{
    struct stat st;
    return sys::lstat(path, &st) == 0 ? (st.st_mode & kTypeMask) : 0;
}

// Created exclusively and never through a link, so the probe can neither
// truncate a file of the user's nor write anywhere a link points to. A
// regular file of the probe's name is one a power cut left behind.
int OpenProbe()
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = sys::open(kWriteProbe, flags, 0644);
    if (fd < 0 && errno == EEXIST && TypeOf(kWriteProbe) == kTypeRegular &&
        sys::unlink(kWriteProbe) == 0)
        fd = sys::open(kWriteProbe, flags, 0644);
    return fd;
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

// The recordings folder is there now (nothing is made).
bool RecordFolderThere()
{
    return TypeOf(kRecordFolder) == kTypeFolder;
}

}  // namespace

int CheckSdWritable()
{
    const int fd = OpenProbe();
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

bool MakeRecordFolder()
{
    if (RecordFolderThere())
        return true;
    MakeFolders(kRecordFolder);
    sys::sync();
    LogMessage(kUnit, __LINE__, "Create 'record' path(%s)...\n", kRecordFolder);
    if (RecordFolderThere())
        return true;
    LogMessage(kUnit, __LINE__, "Can't create the path(%s)\n", kRecordFolder);
    return false;
}

CardAnswer PrepareCard(CardChores& chores, std::function<bool()> card_absent,
                       std::chrono::milliseconds wait)
{
    // Shared: a job the wait gave up on still writes its answer.
    const auto answer = std::make_shared<CardAnswer>(CardAnswer::kRefused);
    const bool answered = chores.RunWithin(
        [answer, card_absent = std::move(card_absent)] {
            if (card_absent())
                *answer = CardAnswer::kAbsent;
            else if (CheckSdWritable() == 0 && MakeRecordFolder())
                *answer = CardAnswer::kReady;
        },
        wait);
    if (answered)
        return *answer;
    LogMessage(kUnit, __LINE__, "The card is busy: the recording starts, and waits for it...\n");
    return CardAnswer::kBusy;
}

void NameNewRecording(char* path, size_t size)
{
    struct stat st;
    for (time_t when = sys::time(nullptr);; ++when) {
        struct tm t {};
        localtime_r(&when, &t);
        std::snprintf(path, size, "%s/%d%02d%02d%02d%02d%02d.wav", kRecordFolder, t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        if (sys::lstat(path, &st) != 0)
            return;
    }
}

void RemoveRecording(CardChores& chores, char* path)
{
    if (!path[0])
        return;
    LogMessage(kUnit, __LINE__, "unlink file(%s)\n", path);
    const std::string gone = path;
    chores.Post([gone] {
        sys::unlink(gone.c_str());
        sys::sync();
    });
    path[0] = '\0';
}
