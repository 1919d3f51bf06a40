// What a 32-bit handheld needs 64-bit file offsets for: a recording that
// grows past 2 GiB with its header still rewritable at the start, and the
// listing of a folder on a large file system, whose entries' positions do not
// fit in 32 bits (under the emulator on a PC's disk, every listing).

#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/sys.h"

namespace {

TEST(LargeFiles, ACardFileGrowsPast2GiBAndItsStartStaysWritable)
{
    const char* const path = "/mnt/sd/long.wav";
    const int fd = sys::open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << errno;
    // Sparse: the PC's disk keeps only the block written.
    const off_t near_2gib = std::numeric_limits<int32_t>::max() - 2047;
    const int64_t end = int64_t{near_2gib} + 4096;
    ASSERT_EQ(sys::lseek(fd, near_2gib, SEEK_SET), near_2gib);
    const std::vector<char> block(4096, 'x');
    errno = 0;
    EXPECT_EQ(sys::write(fd, block.data(), block.size()), 4096) << errno;
    EXPECT_EQ(int64_t{sys::lseek(fd, 0, SEEK_CUR)}, end) << errno;
    // The header's place, as a recording's close rewrites it.
    ASSERT_EQ(sys::lseek(fd, 4, SEEK_SET), 4);
    EXPECT_EQ(sys::write(fd, "size", 4), 4);
    EXPECT_EQ(int64_t{sys::lseek(fd, 0, SEEK_END)}, end) << errno;
    struct stat st;
    ASSERT_EQ(sys::lstat(path, &st), 0) << errno;
    EXPECT_EQ(int64_t{st.st_size}, end);
    sys::close(fd);
    sys::unlink(path);
}

TEST(LargeFiles, AFolderOnTheCardListsEveryEntry)
{
    const char* const folder = "/mnt/sd/listing";
    ASSERT_EQ(sys::mkdir(folder, 0755), 0) << errno;
    std::vector<std::string> made;
    for (int i = 0; i < 40; ++i) {
        made.push_back("2040010100" + std::to_string(1000 + i).substr(2) + "00.wav");
        const int fd =
            sys::open((std::string(folder) + "/" + made.back()).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0) << errno;
        sys::close(fd);
    }
    std::vector<std::string> listed;
    DIR* dir = ::opendir(sys::resolve(folder).c_str());
    ASSERT_NE(dir, nullptr) << errno;
    errno = 0;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            listed.push_back(name);
    }
    EXPECT_EQ(errno, 0) << "the listing broke off";
    ::closedir(dir);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, made);
    for (const std::string& name : made)
        sys::unlink((std::string(folder) + "/" + name).c_str());
    ::rmdir(sys::resolve(folder).c_str());
}

}  // namespace
