// The writing half of a recording on its own: the buffer between the card
// and the file, the rhythm that keeps the file's header true, the files a
// long recording goes on in, and a card that stalls.

#include "audio/recordwriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/cardchores.h"
#include "audio/wavformat.h"
#include "platform/sys.h"
#include "sim/faults.h"
#include "sim/sdcard.h"
#include "tests/support/handheld.h"
#include "tests/support/wait.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr auto kHung = std::chrono::milliseconds(support::kHung);

Bytes ReadFile(const std::string& handheld_path)
{
    std::ifstream in(sys::resolve(handheld_path.c_str()), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Sound whose every byte tells its place in the recording.
Bytes Sound(size_t from, size_t bytes)
{
    Bytes b(bytes);
    for (size_t i = 0; i < bytes; ++i)
        b[i] = static_cast<unsigned char>((from + i) * 7);
    return b;
}

// The file holds the canonical header of what follows it (whole frames),
// and the sound from `from` on.
::testing::AssertionResult HoldsTrulyDeclared(const Bytes& file, size_t from)
{
    if (file.size() < kWavHeaderBytes)
        return ::testing::AssertionFailure() << "a file of " << file.size() << " bytes";
    const uint32_t sound = static_cast<uint32_t>(file.size() - kWavHeaderBytes);
    const WavHeader h = WavHeader::ForBytes(2, 22050, 16, sound / 4 * 4);
    if (!std::equal(h.bytes.begin(), h.bytes.end(), file.begin()))
        return ::testing::AssertionFailure() << "the header does not declare " << sound / 4 * 4;
    const Bytes expected = Sound(from, sound);
    if (!std::equal(expected.begin(), expected.end(), file.begin() + kWavHeaderBytes))
        return ::testing::AssertionFailure() << "the sound is not the recording's from " << from;
    return ::testing::AssertionSuccess();
}

class RecordWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        support::ResetHandheld();
        sys::mkdir("/mnt/sd/music", 0755);
        sys::mkdir(kFolder, 0755);
        for (int i = 0; i < 4; ++i)
            sys::unlink(Name(i).c_str());
    }
    void TearDown() override
    {
        support::ResetHandheld();
        EXPECT_TRUE(support::CardFilesClosed());
    }

    static std::string Name(int i)
    {
        return std::string(kFolder) + "/take" + std::to_string(i) + ".wav";
    }

    // A writer on a new file take0.wav, its start header written; files
    // after it are take1.wav, take2.wav, ... unless `next` says otherwise.
    std::shared_ptr<RecordWriter> Start(size_t buffer, int64_t limit,
                                        RecordWriter::NextPath next = nullptr)
    {
        std::shared_ptr<RecordWriter> writer = RecordWriter::Create(buffer);
        if (!next)
            next = [this] { return Name(++files_); };
        writer->Begin(RecordWriter::Files{Name(0), 22050, limit, next}, card_);
        EXPECT_TRUE(writer->HeaderWritten(kHung));
        return writer;
    }

    static constexpr const char* kFolder = "/mnt/sd/music/writer";
    int files_ = 0;
    CardChores card_;
};

// What reaches the file and its header, before and at the end.
TEST_F(RecordWriterTest, TheHeaderDeclaresWhatTheCardHoldsAsTheSoundComes)
{
    struct Case {
        const char* what;
        size_t bytes;     // appended
        bool flush;       // asked for a true file, or left to the rhythm
        size_t declared;  // what the header on the card says then
    };
    const Case cases[] = {
        {"a quarter second goes in by itself", RecordWriter::kRoundBytes, false,
         RecordWriter::kRoundBytes / 4 * 4},
        {"less goes in on a flush", 400, true, 400},
        {"a part frame is never declared", 402, true, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::shared_ptr<RecordWriter> writer = Start(RecordWriter::kBufferBytes, 1 << 30);
        const Bytes sound = Sound(0, c.bytes);
        ASSERT_TRUE(writer->Append(reinterpret_cast<const char*>(sound.data()), sound.size()));
        if (c.flush) {
            EXPECT_TRUE(writer->Flush(kHung));
        }
        EXPECT_TRUE(support::Eventually([&] {
            const Bytes file = ReadFile(Name(0));
            return file.size() >= kWavHeaderBytes &&
                   wav_parse(file.data(), file.size()).data_size ==
                       static_cast<int32_t>(c.declared);
        }));
        int64_t closed_with = -1;
        ASSERT_TRUE(writer->Finish(kHung, [&](int64_t written) { closed_with = written; }));
        // A part frame the file took is cut off at the end, and not counted.
        EXPECT_EQ(closed_with, static_cast<int64_t>(c.declared));
        EXPECT_EQ(ReadFile(Name(0)).size(), kWavHeaderBytes + c.declared);
        EXPECT_TRUE(HoldsTrulyDeclared(ReadFile(Name(0)), 0));
    }
}

// The buffer takes what fits and counts the rest; a full file goes on in
// the next one the owner names, from the very next frame, or the writer
// fails and leaves every file it did not make as it was.
TEST_F(RecordWriterTest, WhatDoesNotFitIsCountedAndFullFilesGoOnInTheNext)
{
    enum class Next { kNamed, kNone, kTaken, kFifo };
    struct Case {
        const char* what;
        size_t buffer;
        int64_t limit;
        size_t bytes;
        Next next;
        std::vector<size_t> files;  // sound bytes of take0, take1, ...
        int64_t dropped;
        bool failed;
    };
    const Case cases[] = {
        {"all fits in one file", 8192, 1 << 20, 8192, Next::kNamed, {8192}, 0, false},
        {"a full buffer ends the file where the sound stops",
         8192,
         1 << 20,
         12288,
         Next::kNamed,
         {8192},
         4096,
         true},
        {"full files go on in the next",
         8192,
         3000,
         8000,
         Next::kNamed,
         {3000, 3000, 2000},
         0,
         false},
        {"a limit is whole frames", 8192, 3002, 6000, Next::kNamed, {3000, 3000}, 0, false},
        {"no name for the next file", 8192, 3000, 8000, Next::kNone, {3000}, 0, true},
        {"the next name is a user's file", 8192, 3000, 8000, Next::kTaken, {3000}, 0, true},
        {"the next name is a FIFO", 8192, 3000, 8000, Next::kFifo, {3000}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        const std::string other = Name(3);
        if (c.next == Next::kTaken) {
            std::ofstream(sys::resolve(other.c_str())) << "the user's";
        } else if (c.next == Next::kFifo) {
            ASSERT_EQ(::mkfifo(sys::resolve(other.c_str()).c_str(), 0644), 0);
        }
        RecordWriter::NextPath next;
        if (c.next == Next::kNone)
            next = [] { return std::string(); };
        else if (c.next != Next::kNamed)
            next = [other] { return other; };
        files_ = 0;
        const std::shared_ptr<RecordWriter> writer = Start(c.buffer, c.limit, next);
        // In one piece per buffer: nothing reaches the card before the end,
        // as less than a round is queued.
        size_t taken = 0;
        for (size_t at = 0; at < c.bytes; at += 4096) {
            const Bytes piece = Sound(at, std::min<size_t>(4096, c.bytes - at));
            if (writer->Append(reinterpret_cast<const char*>(piece.data()), piece.size()))
                taken += piece.size();
        }
        EXPECT_EQ(writer->Dropped(), c.dropped);
        EXPECT_EQ(static_cast<int64_t>(taken), static_cast<int64_t>(c.bytes) - c.dropped);
        ASSERT_TRUE(writer->Finish(kHung, nullptr));
        EXPECT_EQ(writer->Failed(), c.failed);
        size_t from = 0;
        for (size_t i = 0; i < c.files.size(); ++i) {
            SCOPED_TRACE(Name(static_cast<int>(i)));
            const Bytes file = ReadFile(Name(static_cast<int>(i)));
            EXPECT_EQ(file.size(), kWavHeaderBytes + c.files[i]);
            EXPECT_TRUE(HoldsTrulyDeclared(file, from));
            from += c.files[i];
        }
        EXPECT_EQ(writer->Path(), Name(static_cast<int>(c.files.size()) - 1));
        struct stat st;
        if (c.next == Next::kTaken) {
            const Bytes users = ReadFile(other);
            EXPECT_EQ(std::string(users.begin(), users.end()), "the user's");
        } else if (c.next == Next::kFifo) {
            EXPECT_TRUE(::stat(sys::resolve(other.c_str()).c_str(), &st) == 0 &&
                        S_ISFIFO(st.st_mode));
        }
        sys::unlink(other.c_str());
    }
}

// A writer held in a stalled card: Finish gives up when its time is up, the
// writer ends the file by itself once the card answers, and says so then.
TEST_F(RecordWriterTest, AWriterStuckInAStalledCardEndsTheFileByItself)
{
    const std::shared_ptr<RecordWriter> writer = Start(RecordWriter::kBufferBytes, 1 << 30);
    sim::sdcard::SetStall(60000, 0);
    const Bytes sound = Sound(0, RecordWriter::kRoundBytes * 2);
    ASSERT_TRUE(writer->Append(reinterpret_cast<const char*>(sound.data()), sound.size()));
    std::atomic<int64_t> closed_with{-1};
    EXPECT_FALSE(writer->Finish(std::chrono::milliseconds(0),
                                [&](int64_t written) { closed_with = written; }));
    EXPECT_EQ(closed_with.load(), -1);
    sim::sdcard::SetStall(0, 0);
    EXPECT_TRUE(support::Eventually([&] { return closed_with.load() >= 0; }));
    EXPECT_EQ(closed_with.load(), static_cast<int64_t>(sound.size()));
    EXPECT_TRUE(support::CardFilesClosed());
    EXPECT_TRUE(HoldsTrulyDeclared(ReadFile(Name(0)), 0));
}

// A card that refuses the header's rewrite fails the recording there, and
// refuses it again when the file is ended: asked again a moment later, it
// takes it, and the header declares what the file holds. What the writer
// refused after the failure was not too much for the buffer, and is not
// counted so.
TEST_F(RecordWriterTest, AHeaderTheCardRefusedIsRewrittenOnceItTakesItAgain)
{
    const sim::faults::Fault refused{sim::faults::Device::kCard, sim::faults::Action::kFail,
                                     "lseek", 0};
    const std::shared_ptr<RecordWriter> writer = Start(RecordWriter::kBufferBytes, 1 << 30);
    sim::faults::Place(refused);
    const Bytes sound = Sound(0, RecordWriter::kRoundBytes);
    ASSERT_TRUE(writer->Append(reinterpret_cast<const char*>(sound.data()), sound.size()));
    ASSERT_TRUE(support::Eventually([&] { return writer->Failed(); }));
    EXPECT_FALSE(writer->Append(reinterpret_cast<const char*>(sound.data()), sound.size()));
    sim::faults::Place(refused);
    ASSERT_TRUE(writer->Finish(kHung, nullptr));
    EXPECT_TRUE(HoldsTrulyDeclared(ReadFile(Name(0)), 0));
    EXPECT_EQ(writer->Dropped(), 0);
}

}  // namespace
