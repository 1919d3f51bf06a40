// Every test process gets a fresh simulated handheld of its own.

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "app/userevent.h"
#include "sim/handheld.h"

namespace {

// Each test starts with none of the recorder's own events left over from
// the one before.
class FreshEventQueue : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { DiscardUserEvents(); }
};

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshEventQueue);
    char folder[] = "/tmp/recorder-unit-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string lay_out = std::string(HANDHELD_ROOT_TOOL) + " " + folder;
    if (std::system(lay_out.c_str()) != 0) {
        std::fprintf(stderr, "cannot lay out a handheld root in %s\n", folder);
        return 1;
    }
    setenv("HANDHELD_ROOT", folder, 1);
    sim::Handheld::Instance().SetRoot(folder);
    const int result = RUN_ALL_TESTS();
    nftw(folder, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    return result;
}
