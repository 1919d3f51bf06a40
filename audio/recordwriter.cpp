#include "audio/recordwriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <thread>

#include "app/budget.h"
#include "app/cardchores.h"
#include "app/logmessage.h"
#include "audio/wavformat.h"
#include "platform/sys.h"

namespace {

constexpr int kFrameBytes = 4;

// A card that blinked out refuses a call until it is back: the call is
// asked again a few times, on the card's thread. True once it has
// gone through.
template <typename Call>
bool AskAgain(Call call)
{
    if (call())
        return true;
    for (const std::chrono::milliseconds wait : budget::kCardRetries) {
        std::this_thread::sleep_for(wait);
        if (call())
            return true;
    }
    return false;
}

}  // namespace

int wav_header_write(int fd, int channels, int sample_rate, int bits, uint32_t frames)
{
    if (fd < 0) {
        LogMessage("wavrecord.cpp", __LINE__, "bad file descriptor?");
        return -1;
    }
    const WavHeader header =
        WavHeader::ForFrames(channels, static_cast<uint32_t>(sample_rate), bits, frames);
    if (sys::write(fd, header.bytes.data(), header.bytes.size()) != kWavHeaderBytes) {
        LogMessage("wavrecord.cpp", __LINE__, "write header errror");
        return -1;
    }
    return 0;
}

std::shared_ptr<RecordWriter> RecordWriter::Create(size_t buffer_bytes)
{
    std::shared_ptr<RecordWriter> writer(new RecordWriter(buffer_bytes));
    return writer->ring_ ? writer : nullptr;
}

RecordWriter::RecordWriter(size_t buffer_bytes)
    : capacity_(buffer_bytes), ring_(new (std::nothrow) char[buffer_bytes])
{
}

void RecordWriter::Begin(Files files, CardChores& card)
{
    files_ = std::move(files);
    // Whole frames, and at least one: a file must hold sound to be a file.
    files_.limit = std::max<int64_t>(files_.limit / kFrameBytes * kFrameBytes, kFrameBytes);
    {
        std::lock_guard<std::mutex> hold(lock_);
        path_ = files_.path;
    }
    // The job owns the writer, so a writer that Finish gave up on still has
    // its buffer until it has closed the file.
    card.Post([writer = shared_from_this()] { writer->Run(); });
}

bool RecordWriter::Append(const char* data, size_t bytes)
{
    std::lock_guard<std::mutex> hold(lock_);
    const size_t room = capacity_ - static_cast<size_t>(queued_ - written_);
    const bool refused = failed_ || finishing_;
    const size_t take = refused || overflowed_ ? 0 : std::min(bytes, room);
    // A card slower than the buffer: the file must not go on after a gap
    // as if it were one recording, so it ends where the sound stops. Said
    // now: the card may still hold the writer when the recorder is left.
    if (take < bytes && !failed_ && !overflowed_ && !finishing_) {
        overflowed_ = true;
        LogMessage("wavrecord.cpp", __LINE__,
                   "(Record) The card is too slow: the buffer is full, and the recording ends "
                   "at %.1f s.\n",
                   static_cast<double>(queued_ + static_cast<int64_t>(take)) / kBytesPerSecond);
    }
    // Copied outside the writer's span, which stays put while it writes.
    size_t at = static_cast<size_t>(queued_ % static_cast<int64_t>(capacity_));
    for (size_t done = 0; done < take;) {
        const size_t piece = std::min(take - done, capacity_ - at);
        std::copy_n(data + done, piece, ring_.get() + at);
        done += piece;
        at = 0;
    }
    queued_ += static_cast<int64_t>(take);
    // Sound a failed file no longer takes was not too much for the buffer.
    if (!refused)
        dropped_ += static_cast<int64_t>(bytes - take);
    if (queued_ - written_ >= kRoundBytes)
        work_.notify_one();
    return take == bytes;
}

int64_t RecordWriter::Written() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return written_;
}

int64_t RecordWriter::Dropped() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return dropped_;
}

std::string RecordWriter::Path() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return path_;
}

bool RecordWriter::Failed() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return failed_ || overflowed_;
}

bool RecordWriter::HeaderWritten(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> hold(lock_);
    progress_.wait_for(hold, wait, [this] { return header_ != Header::kPending; });
    return header_ != Header::kFailed;
}

bool RecordWriter::Flush(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> hold(lock_);
    flush_to_ = std::max(flush_to_, queued_ / kFrameBytes * kFrameBytes);
    work_.notify_one();
    return progress_.wait_for(hold, wait,
                              [this] { return failed_ || closed_ || declared_ >= flush_to_; });
}

bool RecordWriter::Finish(std::chrono::milliseconds wait, std::function<void(int64_t)> closed)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (!finishing_) {
        finishing_ = true;
        on_closed_ = std::move(closed);
        work_.notify_one();
    }
    return progress_.wait_for(hold, wait, [this] { return closed_; });
}

bool RecordWriter::WriteOut(int64_t from, int64_t to)
{
    while (from < to) {
        const size_t at = static_cast<size_t>(from % static_cast<int64_t>(capacity_));
        const size_t piece = std::min(static_cast<size_t>(to - from), capacity_ - at);
        const ssize_t wrote = sys::write(fd_, ring_.get() + at, piece);
        std::lock_guard<std::mutex> hold(lock_);
        if (wrote > 0)
            written_ += wrote;
        if (wrote != static_cast<ssize_t>(piece)) {
            failed_ = true;
            return false;
        }
        from += wrote;
    }
    return true;
}

bool RecordWriter::WriteHeader(uint32_t frames)
{
    return wav_header_write(fd_, 2, files_.rate, 16, frames) == 0;
}

// Goes back to the end of the sound afterwards.
bool RecordWriter::Declare(int64_t bytes)
{
    const int64_t whole = bytes / kFrameBytes * kFrameBytes;
    const bool declared = sys::lseek(fd_, 0, SEEK_SET) == 0 &&
                          WriteHeader(static_cast<uint32_t>(whole / kFrameBytes));
    if (declared) {
        std::lock_guard<std::mutex> hold(lock_);
        declared_ = file_start_ + whole;
    }
    return sys::lseek(fd_, kWavHeaderBytes + bytes, SEEK_SET) == kWavHeaderBytes + bytes &&
           declared;
}

// A new file survives a power cut only once its folder's entry for it does.
void RecordWriter::SyncFolder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dir = sys::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        sys::fdatasync(dir);
        sys::close(dir);
    }
}

void RecordWriter::EndFile(int64_t bytes)
{
    const int64_t whole = bytes / kFrameBytes * kFrameBytes;
    if (whole == 0)
        return RemoveEmptyFile();
    // A card that filled up took part of a frame: the file ends with the
    // last whole one, as its header says. The file counts as closed only
    // once its true header is on the card.
    const bool cut = whole == bytes || sys::ftruncate(fd_, kWavHeaderBytes + whole) == 0;
    if (cut && whole != bytes) {
        std::lock_guard<std::mutex> hold(lock_);
        written_ -= bytes - whole;
    }
    // A header the card refused is asked again, so the file declares what
    // it holds once the card takes it.
    if (!cut || !AskAgain([&] { return Declare(whole) && sys::fdatasync(fd_) == 0; }))
        LogMessage("wavrecord.cpp", __LINE__, "(Record) The card did not keep the end of %s.\n",
                   Path().c_str());
    sys::close(fd_);
    fd_ = -1;
}

void RecordWriter::RemoveEmptyFile()
{
    sys::close(fd_);
    fd_ = -1;
    const std::string path = Path();
    {
        // No play target from now on, whether or not the card lets it go.
        std::lock_guard<std::mutex> hold(lock_);
        path_ = previous_path_;
    }
    LogMessage("wavrecord.cpp", __LINE__, "unlink file(%s)\n", path.c_str());
    bool first = true;
    const bool removed = AskAgain([&] {
        const bool gone = sys::unlink(path.c_str()) == 0 || (!first && errno == ENOENT);
        first = false;
        return gone;
    });
    if (!removed)
        LogMessage("wavrecord.cpp", __LINE__, "Can't remove the unfinished WAV file.\n");
}

bool RecordWriter::StartFile(const std::string& path)
{
    if (WriteHeader(0) && sys::fdatasync(fd_) == 0) {
        SyncFolder(path);
        return true;
    }
    sys::close(fd_);
    fd_ = -1;
    if (sys::unlink(path.c_str()) != 0)
        LogMessage("wavrecord.cpp", __LINE__, "Can't remove the unfinished WAV file.\n");
    std::lock_guard<std::mutex> hold(lock_);
    failed_ = true;
    return false;
}

bool RecordWriter::ContinueInNextFile()
{
    EndFile(files_.limit);
    const std::string path = files_.next ? files_.next() : std::string();
    // Never over a file of the user's: the name was free a moment ago.
    fd_ =
        path.empty() ? -1 : sys::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        LogMessage("wavrecord.cpp", __LINE__, "Can't go on in a new WAV file(%s).\n", path.c_str());
        std::lock_guard<std::mutex> hold(lock_);
        failed_ = true;
        return false;
    }
    if (!StartFile(path))
        return false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        previous_path_ = path_;
        path_ = path;
        file_start_ = written_;
    }
    LogMessage("wavrecord.cpp", __LINE__, "(Record) Go on in %s...\n", path.c_str());
    return true;
}

bool RecordWriter::MakeFirstFile()
{
    fd_ = sys::open(files_.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ >= 0)
        return StartFile(files_.path);
    LogMessage("wavrecord.cpp", __LINE__, "Create WAV file fail.\n");
    std::lock_guard<std::mutex> hold(lock_);
    failed_ = true;
    return false;
}

void RecordWriter::Run()
{
    const bool started = MakeFirstFile();
    std::unique_lock<std::mutex> hold(lock_);
    header_ = started ? Header::kWritten : Header::kFailed;
    progress_.notify_all();
    for (;;) {
        work_.wait(hold, [this] {
            return finishing_ ||
                   (!failed_ && (queued_ - written_ >= kRoundBytes || flush_to_ > declared_));
        });
        if (failed_) {
            // The file keeps what reached it; record_close ends it.
            work_.wait(hold, [this] { return finishing_; });
            break;
        }
        if (finishing_ && written_ == queued_)
            break;
        // The next file is made only once there is sound for it, so a
        // recording never ends in a file that holds none.
        if (written_ - file_start_ >= files_.limit) {
            hold.unlock();
            ContinueInNextFile();
            hold.lock();
            if (failed_) {
                progress_.notify_all();
                continue;
            }
        }
        const int64_t from = written_;
        const int64_t to = std::min(queued_, file_start_ + files_.limit);
        const int64_t start = file_start_;
        hold.unlock();
        WriteOut(from, to);
        // Synced first, declared after: the header never runs ahead of what
        // the card keeps, and the next sync makes it durable in turn. A card
        // that fails its sync keeps nothing it was given: a failed write.
        const bool synced = sys::fdatasync(fd_) == 0;
        const bool declared = Declare(Written() - start);
        hold.lock();
        // A file whose header can no longer be rewritten takes no more
        // sound: it would be sound that no header declares.
        failed_ = failed_ || !synced || !declared;
        progress_.notify_all();
    }
    const int64_t in_file = written_ - file_start_;
    const int64_t lost = dropped_;
    hold.unlock();
    if (lost > 0)
        LogMessage("wavrecord.cpp", __LINE__,
                   "(Record) The card was too slow: %lld bytes of sound (%.1f s) did not fit "
                   "the buffer; the recording ends where they began.\n",
                   static_cast<long long>(lost), static_cast<double>(lost) / kBytesPerSecond);
    if (fd_ >= 0)
        EndFile(in_file);
    hold.lock();
    const int64_t written = written_;
    std::function<void(int64_t)> closed = std::move(on_closed_);
    hold.unlock();
    if (closed)
        closed(written);
    hold.lock();
    closed_ = true;
    // Nothing more comes: the buffer need not outlive the close.
    ring_.reset();
    progress_.notify_all();
}

bool RecordWriter::Closed() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return closed_;
}
