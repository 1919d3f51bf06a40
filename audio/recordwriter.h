#pragma once
// The writing half of a recording: a buffer of several seconds between the
// sound card and the WAV file, drained into the file by the card's thread.
//
// SD cards stall writes and syncs for hundreds of milliseconds and more.
// The capture side only copies into the buffer, so it never waits for the
// card; the card's thread alone does. It keeps the file safe against a crash
// or a flat battery as it goes: every quarter second of sound it writes what
// came, makes the file durable (fdatasync), and rewrites the header to
// declare what that sync made durable, so the header on the card never
// declares more than the card holds and a power cut loses well under a
// second.
//
// Every call returns within the time it is given, whatever the card does: a
// writer still blocked in the card when Finish gives up ends the file by
// itself once the card answers.
//
// A file holds at most `file_limit` bytes of sound. Once it is full the
// writer ends it with a true header and goes on, from the very next frame,
// in a new file at the path the recording's owner names then; a recording of
// any length is so a run of whole files whose samples join up.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CardChores;

// Writes the canonical header for `frames` at the descriptor's position: 0,
// or -1 with "bad file descriptor?" (fd < 0) or "write header errror" (fewer
// than its 44 bytes were written) in the log.
int wav_header_write(int fd, int channels, int sample_rate, int bits, uint32_t frames);

class RecordWriter : public std::enable_shared_from_this<RecordWriter> {
public:
    // Recordings are 22050 Hz, 16-bit stereo.
    static constexpr int64_t kBytesPerSecond = 88200;
    // Ten seconds of sound: capture goes on through any stall shorter.
    static constexpr size_t kBufferBytes = 10 * kBytesPerSecond;
    // How much sound one write and one sync carry.
    static constexpr int64_t kRoundBytes = kBytesPerSecond / 4;
    // The most sound one file takes: whole frames, and the whole file below
    // 2 GiB, so every size field of its header reads as positive to any
    // player and no 32-bit file offset overflows. About 6 h 45 min.
    static constexpr int64_t kFileLimit = (0x7FFFFFFF - 44) / 4 * 4;
    static_assert(kFileLimit % 4 == 0 && kFileLimit + 44 <= 0x7FFFFFFF,
                  "a full file is whole frames, and its every size field positive");

    // The path of the file a recording goes on in once its file is full;
    // empty when there is none (the recording then fails as on a full card).
    using NextPath = std::function<std::string()>;

    // A writer whose buffer takes sound at once, before there is a file to
    // write it to. Null when the buffer cannot be had.
    static std::shared_ptr<RecordWriter> Create(size_t buffer_bytes = kBufferBytes);
    // Where the sound goes.
    struct Files {
        std::string path;  // the handheld path of the first file
        int rate;          // the rate the card records at, in every header
        int64_t limit;     // the most sound a file takes (whole frames)
        NextPath next;     // names the file that follows a full one
    };
    // Starts writing as a job of the card's thread `card`: once the card
    // work asked for before it is done (the folder on a new card), it makes
    // the file at `files.path` (empty), writes a header that declares no
    // sound (none exists yet, and a recording cut off before its first write
    // must claim none), and makes the file's entry in its folder durable; it
    // then writes until Finish. A card that stalls holds up the card's
    // thread alone, while the sound goes on into the buffer. Once only.
    void Begin(Files files, CardChores& card);
    // False when the file could not be made, or its start header written,
    // within `wait`; the file is then removed (or, where the card refuses
    // even that, logged as left), and the writer has failed. A file still on
    // its way counts as made: should it fail later, the writer fails then.
    bool HeaderWritten(std::chrono::milliseconds wait);
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Capture side: queues sound for the file. What does not fit is dropped
    // and counted, false then; from then on the writer takes nothing more
    // and counts as failed, so its file ends where the sound stopped.
    bool Append(const char* data, size_t bytes);

    // Sample bytes in the recording's files so far (a short write counts
    // what it wrote).
    int64_t Written() const;
    // The file written now, or last; empty when the recording kept none.
    std::string Path() const;
    // Every file is ended and closed (Finish has been called and is done).
    bool Closed() const;
    // Bytes dropped because the buffer was full.
    int64_t Dropped() const;
    // A write or a sync of the file failed or fell short, or sound did not
    // fit the buffer: the recording must end.
    bool Failed() const;

    // Asks for all queued sound in the file and a header that declares it;
    // true when that was done within `wait`.
    bool Flush(std::chrono::milliseconds wait);

    // No more sound comes. The writer writes the rest, makes the file
    // durable with a true header and closes it, then calls `closed` with
    // the sample bytes written (on the card's thread). True when all that
    // was done within `wait`; else it goes on alone.
    bool Finish(std::chrono::milliseconds wait, std::function<void(int64_t)> closed);

private:
    explicit RecordWriter(size_t buffer_bytes);
    void Run();
    // Writes queued bytes; false when the file refused them. Lock not held.
    bool WriteOut(int64_t from, int64_t to);
    // Writes a header for `frames` of the recording's format where the file
    // stands; false when the card refused it.
    bool WriteHeader(uint32_t frames);
    // Rewrites the header for `bytes` of sound in the file; false when the
    // card refused it.
    bool Declare(int64_t bytes);
    void SyncFolder(const std::string& path);
    // Ends the full file and goes on in the next; false when there is none.
    bool ContinueInNextFile();
    // Ends the file: what it holds in whole frames durable under a true
    // header, then closed; a file without a whole frame is removed.
    void EndFile(int64_t bytes);
    // A file with no sound is no recording: it goes, and the recording's
    // last file is the one before it, if any.
    void RemoveEmptyFile();
    // Makes the first file; false, logged, when the card refuses it.
    bool MakeFirstFile();
    // Writes the start header; without it the file is removed.
    bool StartFile(const std::string& path);

    // Set by Begin, before the job is queued; only the job uses them.
    int fd_ = -1;
    Files files_;
    const size_t capacity_;
    std::unique_ptr<char[]> ring_;

    mutable std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable progress_;
    int64_t queued_ = 0;      // bytes ever appended
    int64_t written_ = 0;     // of them, in the file
    int64_t dropped_ = 0;     // did not fit
    int64_t flush_to_ = 0;    // wanted in the file and declared
    int64_t file_start_ = 0;  // where in the sound the file begins
    int64_t declared_ = 0;    // what the headers on the card declare
    std::string path_;
    std::string previous_path_;  // the full file before path_, if any
    bool failed_ = false;
    bool overflowed_ = false;
    enum class Header { kPending, kWritten, kFailed } header_ = Header::kPending;
    bool finishing_ = false;
    bool closed_ = false;
    std::function<void(int64_t)> on_closed_;
};
