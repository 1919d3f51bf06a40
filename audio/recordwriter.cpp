#include "audio/recordwriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "audio/wavrecord.h"
#include "platform/sys.h"

namespace {

constexpr int kHeaderBytes = 44;
constexpr int kFrameBytes = 4;
// The largest size a header can declare and still be read back as positive
// by this player: whole frames below 2^31.
constexpr int64_t kMaxDeclared = 0x7FFFFFFF / kFrameBytes * kFrameBytes;

// Writers whose file is not closed yet, for WaitAllClosed.
std::mutex g_live_lock;
std::condition_variable g_live_changed;
int g_live = 0;

}  // namespace

std::shared_ptr<RecordWriter> RecordWriter::Create(size_t buffer_bytes)
{
    std::shared_ptr<RecordWriter> writer(new RecordWriter(buffer_bytes));
    return writer->ring_ ? writer : nullptr;
}

RecordWriter::RecordWriter(size_t buffer_bytes)
    : capacity_(buffer_bytes), ring_(new (std::nothrow) char[buffer_bytes])
{
}

void RecordWriter::Begin(int fd, const std::string& folder)
{
    fd_ = fd;
    folder_ = folder;
    {
        std::lock_guard<std::mutex> hold(g_live_lock);
        ++g_live;
    }
    // The thread holds the writer, so a writer that Finish gave up on still
    // has its buffer until it has closed the file.
    std::shared_ptr<RecordWriter> self = shared_from_this();
    thread_ = std::thread([self] { self->Run(); });
}

RecordWriter::~RecordWriter()
{
    if (thread_.joinable())
        thread_.detach();
}

bool RecordWriter::Append(const char* data, size_t bytes)
{
    std::lock_guard<std::mutex> hold(lock_);
    const size_t room = capacity_ - static_cast<size_t>(queued_ - written_);
    const size_t take = failed_ || finishing_ ? 0 : std::min(bytes, room);
    // Copied outside the writer's span, which stays put while it writes.
    size_t at = static_cast<size_t>(queued_ % static_cast<int64_t>(capacity_));
    for (size_t done = 0; done < take;) {
        const size_t piece = std::min(take - done, capacity_ - at);
        std::copy_n(data + done, piece, ring_.get() + at);
        done += piece;
        at = 0;
    }
    queued_ += static_cast<int64_t>(take);
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

bool RecordWriter::Failed() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return failed_;
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
    if (!progress_.wait_for(hold, wait, [this] { return closed_; }))
        return false;
    hold.unlock();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    return true;
}

bool RecordWriter::WaitAllClosed(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> hold(g_live_lock);
    return g_live_changed.wait_for(hold, wait, [] { return g_live == 0; });
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

// Rewrites the header for `bytes` of samples and goes back to their end.
void RecordWriter::Declare(int64_t bytes)
{
    const int64_t whole = std::min(bytes / kFrameBytes * kFrameBytes, kMaxDeclared);
    if (sys::lseek(fd_, 0, SEEK_SET) == 0 &&
        CWavRecord::wav_header_write(fd_, 2, 22050, 16,
                                     static_cast<uint32_t>(whole / kFrameBytes)) == 0) {
        std::lock_guard<std::mutex> hold(lock_);
        declared_ = whole;
    }
    sys::lseek(fd_, kHeaderBytes + bytes, SEEK_SET);
}

// A new file survives a power cut only once its folder's entry for it does.
void RecordWriter::SyncFolder()
{
    const int dir = sys::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        sys::fdatasync(dir);
        sys::close(dir);
    }
}

void RecordWriter::Run()
{
    sys::fdatasync(fd_);
    SyncFolder();
    std::unique_lock<std::mutex> hold(lock_);
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
        const int64_t from = written_;
        const int64_t to = queued_;
        hold.unlock();
        WriteOut(from, to);
        // Synced first, declared after: the header never runs ahead of what
        // the card keeps, and the next sync makes it durable in turn.
        sys::fdatasync(fd_);
        Declare(Written());
        hold.lock();
        progress_.notify_all();
    }
    const int64_t written = written_;
    hold.unlock();
    Declare(written);
    sys::sync();
    sys::close(fd_);
    hold.lock();
    std::function<void(int64_t)> closed = std::move(on_closed_);
    hold.unlock();
    if (closed)
        closed(written);
    hold.lock();
    closed_ = true;
    progress_.notify_all();
    hold.unlock();
    std::lock_guard<std::mutex> live(g_live_lock);
    --g_live;
    g_live_changed.notify_all();
}
