#include "audio/wavrecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <utility>

#include "app/logmessage.h"
#include "audio/recording.h"
#include "audio/wavformat.h"
#include "platform/sys.h"

namespace {

// Every recording is 22050 Hz, 16-bit stereo.
constexpr int kRate = 22050;

void LogCode(int code)
{
    const char* text = code <= -10 ? wav_message(code) : SoundDevice::message(code);
    if (text)
        LogMessage("wavrecord.cpp", __LINE__, "%s", text);
}

// Opens the recording at its sound and sets the device to its format.
int OpenAtSound(SoundDevice& device, const char* path, WavFormat* format)
{
    const int fd = Playback::OpenWav(path, format);
    if (fd < 0)
        return fd;
    sys::lseek(fd, format->data_offset, SEEK_SET);
    device.dsp_set_stereo(format->channels > 1 ? 1 : 0);
    device.dsp_set_format(format->bits);
    device.dsp_set_speed(static_cast<int>(format->sample_rate));
    return fd;
}

}  // namespace

CWavRecord::CWavRecord() : file_limit_(RecordWriter::kFileLimit), playback_(*wake_) {}

CWavRecord::~CWavRecord()
{
    Close(Closer::kDestructor);
    // A file still being ended behind a stalled card gets what is left of
    // the leave, and is then whole.
    // A card that has not answered by then keeps the take from the user:
    // said, not passed over.
    if (last_writer_ && !last_writer_->Finish(Within(budget::kFinish), nullptr))
        LogMessage("wavrecord.cpp", __LINE__,
                   "(Record) The card has not answered: %s may not be whole.\n",
                   last_writer_->Path().c_str());
    LogMessage("wavrecord.cpp", __LINE__, "~CWavRecord()\n");
}

// ---- WAV files ----

void CWavRecord::header_update()
{
    if (const std::shared_ptr<Recording> recording = InProgress())
        recording->Flush(Within(budget::kFlush));
}

int CWavRecord::wav_parse(const char* path)
{
    std::lock_guard<std::mutex> hold(lock_);
    return ParseWav(path);
}

int CWavRecord::ParseWav(const char* path)
{
    WavFormat format;
    const int fd = OpenAtSound(device_, path, &format);
    if (fd < 0)
        return fd;
    data_offset = format.data_offset;
    play_bits_ = format.bits;
    byte_count = 0;
    return fd;
}

// ---- Opening ----

void CWavRecord::ReleaseBlock()
{
    block_buf.reset();
    block_capacity_ = 0;
}

int CWavRecord::RecordOpenFailed(SoundDevice& device, const char* message)
{
    if (message)
        LogMessage("wavrecord.cpp", __LINE__, "%s", message);
    device.soundcard_close();
    std::lock_guard<std::mutex> hold(lock_);
    mode_ = Mode::kIdle;
    return -2;
}

int CWavRecord::record_open(const char* path)
{
    RecordWriter::Files files{path, 0, 0, nullptr};
    CardChores* card = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (DspFd() >= 0 || mode_ != Mode::kIdle) {
            LogMessage("wavrecord.cpp", __LINE__, "Recorder is running(%d)...\n", DspFd());
            return -1;
        }
        // Whatever happens now, the last recording is no longer the one made.
        last_path_.clear();
        last_writer_.reset();
        mode_ = Mode::kOpening;
        files.limit = file_limit_;
        files.next = next_path_;
        card = card_;
    }
    // Set up with the stream free, as a playback is: a device that hangs in
    // a request, or a card that stalls the file, holds up this worker
    // alone, and never a look at the stream.
    SoundDevice device;
    const int opened = device.soundcard_open(O_RDONLY | O_NONBLOCK);
    if (opened < 0) {
        LogCode(opened);
        std::lock_guard<std::mutex> hold(lock_);
        mode_ = Mode::kIdle;
        return -2;
    }
    files.rate = device.set_up_recording(kRate);
    const int block = device.dsp_get_blksize();
    if (files.rate < 0)
        return RecordOpenFailed(device, "The soundcard can't record 16-bit stereo.\n");
    // A wake meant for an earlier run would call off this one's first wait.
    wake_->Drain();
    signal_->Lower();
    // From here the capture holds the device, and the block buffer: a device
    // that hangs in a read keeps them after the close.
    Recording::Source source{std::move(device), static_cast<size_t>(block), wake_, signal_};
    std::shared_ptr<Recording> recording = Recording::Start(source);
    if (!recording)
        return RecordOpenFailed(source.device, nullptr);
    // A card that stalls the file holds the open a moment at most: a later
    // failure reaches the worker through file_write.
    if (!recording->MakeFile(std::move(files), *card, budget::kHeader)) {
        wake_->Wake();
        SoundDevice back;
        recording->StopCapture(budget::kCaptureStop, &back);
        recording.reset();
        wake_->Drain();
        return RecordOpenFailed(back, nullptr);
    }
    std::lock_guard<std::mutex> hold(lock_);
    recording_ = std::move(recording);
    block_size = block;
    captured_ = 0;
    wav_fd = kWriterHasFile;
    last_path_ = path;
    byte_count = 0;
    mode_ = Mode::kRecording;
    return 0;
}

int CWavRecord::play_open(const char* path)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (DspFd() >= 0 || mode_ != Mode::kIdle) {
            LogMessage("wavrecord.cpp", __LINE__, "Player is running...\n");
            return -1;
        }
        mode_ = Mode::kOpening;
    }
    // The device's requests and the file's reads are made with the stream
    // free: a device or a card that hangs in one holds up this worker
    // alone, never a stop, a leave or the status tick, which find nothing
    // to close until the playback is there.
    SoundDevice device;
    std::unique_ptr<char[]> block;
    int capacity = 0;
    WavFormat format;
    int fd = -1;
    // Not blocking: the worker writes only what the device has room for,
    // so a stop never finds a block half way into the device.
    const int opened = device.soundcard_open(O_WRONLY | O_NONBLOCK);
    if (opened < 0) {
        LogCode(opened);
    } else {
        device.set_up_playback();
        // Sized before the file sets the format, as the card answers now.
        capacity = device.dsp_get_blksize();
        block.reset(new (std::nothrow) char[static_cast<size_t>(capacity)]);
        if (!block)
            LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        else if ((fd = OpenAtSound(device, path, &format)) < 0)
            LogCode(fd);
        if (!block || fd < 0)
            device.soundcard_close();
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (fd < 0) {
        byte_count = 0;
        mode_ = Mode::kIdle;
        return -2;
    }
    device_ = std::move(device);
    block_buf = std::move(block);
    block_capacity_ = capacity;
    wav_fd = fd;
    data_offset = format.data_offset;
    play_bits_ = format.bits;
    byte_count = 0;
    playback_.Begin(format);
    // A wake meant for an earlier run would call off this one's first wait.
    wake_->Drain();
    mode_ = Mode::kPlaying;
    return 0;
}

// ---- Recording ----

void CWavRecord::set_next_path(std::function<std::string()> next)
{
    std::lock_guard<std::mutex> hold(lock_);
    next_path_ = std::move(next);
}

void CWavRecord::set_card(CardChores* card)
{
    std::lock_guard<std::mutex> hold(lock_);
    card_ = card;
}

void CWavRecord::set_leave(std::shared_ptr<const budget::Deadline> leave)
{
    std::lock_guard<std::mutex> hold(lock_);
    leave_ = std::move(leave);
}

std::chrono::milliseconds CWavRecord::Within(std::chrono::milliseconds bound) const
{
    // Set once, before any run: read without the lock, which a close that
    // calls this may hold or not.
    return leave_ ? leave_->Within(bound) : bound;
}

void CWavRecord::set_file_limit(int64_t sound_bytes)
{
    std::lock_guard<std::mutex> hold(lock_);
    file_limit_ = sound_bytes;
}

std::string CWavRecord::recording_path() const
{
    std::lock_guard<std::mutex> hold(lock_);
    // A writer still at work may yet go on in another file.
    if (recording_)
        return recording_->Path();
    if (last_writer_)
        return last_writer_->Path();
    return last_path_;
}

CWavRecord::Files CWavRecord::recording_files() const
{
    std::lock_guard<std::mutex> hold(lock_);
    if (recording_)
        return Files::kWriting;
    if (!last_writer_)
        return last_path_.empty() ? Files::kNone : Files::kKept;
    if (!last_writer_->Closed())
        return Files::kWriting;
    return last_writer_->Path().empty() ? Files::kRemoved : Files::kKept;
}

bool CWavRecord::recording_ended(std::chrono::milliseconds wait) const
{
    std::shared_ptr<RecordWriter> writer;
    {
        std::lock_guard<std::mutex> hold(lock_);
        // A recording still open is its worker's to end first.
        if (recording_)
            return false;
        writer = last_writer_;
    }
    return !writer || writer->Finish(wait, nullptr);
}

int CWavRecord::DspFd() const
{
    return mode_ == Mode::kRecording ? recording_->dsp_fd() : device_.dsp_fd();
}

std::shared_ptr<Recording> CWavRecord::InProgress() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return mode_ == Mode::kRecording ? recording_ : nullptr;
}

int64_t CWavRecord::captured_bytes() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return recording_ ? recording_->Captured() : captured_;
}

int CWavRecord::dsp_wait(int timeout_ms)
{
    const std::shared_ptr<Recording> recording = InProgress();
    return recording ? recording->Wait(timeout_ms) : -1;
}

void CWavRecord::dsp_wake()
{
    signal_->Raise();
}

int CWavRecord::dsp_read()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == Mode::kRecording)
        return recording_->Take();
    return device_.dsp_fd() < 0 ? 0 : -1;
}

int CWavRecord::file_write(int len)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (wav_fd == -1 || mode_ != Mode::kRecording)
        return -2;
    // A device that failed sends nothing more: its failure must not wait
    // for sound that never comes.
    if (recording_->Failed())
        return -2;
    if (len <= 0)
        return 0;
    byte_count = recording_->Written();
    return 0;
}

// ---- Playback ----

int CWavRecord::file_read()
{
    std::unique_lock<std::mutex> hold(lock_);
    if (wav_fd == -1 || !block_buf || mode_ != Mode::kPlaying)
        return 0;
    return playback_.ReadBlock(hold, device_.dsp_fd(), wav_fd, block_buf.get(), block_capacity_);
}

int CWavRecord::dsp_write(int len)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (wav_fd == -1 || device_.dsp_fd() < 0 || mode_ != Mode::kPlaying || len > block_capacity_)
        return -2;
    // With len <= 0 the device still holds the last blocks: the end is
    // told once they have played, so the song has been heard to its end,
    // and the close, which drops what the device holds, finds nothing left.
    // A stop that cut them short is the worker's to see.
    const Playback::Result result =
        playback_.Transfer(hold, device_, block_buf.get(), std::max(len, 0));
    if (result == Playback::Result::kFailed)
        return -3;
    if (len <= 0)
        return playback_.stopped() ? 0 : -1;
    if (!playback_.stopped())
        byte_count += len;
    return 0;
}

void CWavRecord::play_stop()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ != Mode::kPlaying || playback_.stopped())
        return;
    wake_->Wake();
    playback_.Stop();
}

// ---- Closing ----

// Ends a recording: the capture stops, the writer ends the file with every
// sample captured, and the devices close. Lock held.
void CWavRecord::EndRecording(std::unique_lock<std::mutex>& hold, Closer closer)
{
    const std::shared_ptr<Recording> recording = recording_;
    wake_->Wake();
    hold.unlock();
    // A device that hangs in the capture's call keeps it: the capture
    // closes the device when the call lets go, and the close below has
    // nothing to close.
    SoundDevice device;
    recording->StopCapture(Within(budget::kCaptureStop), &device);
    hold.lock();
    wav_fd = -1;
    mode_ = Mode::kIdle;
    hold.unlock();
    const std::shared_ptr<RecordWriter> writer =
        recording->Finish(Within(budget::kFinish), closer != Closer::kDestructor);
    device.soundcard_close();
    hold.lock();
    last_writer_ = writer;
    last_path_ = writer->Path();
    captured_ = recording->Captured();
    if (recording_ == recording)
        recording_.reset();
    byte_count = 0;
    ReleaseBlock();
}

void CWavRecord::Close(Closer closer)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (mode_ == Mode::kRecording) {
        EndRecording(hold, closer);
        return;
    }
    if (wav_fd == -1) {
        // What an open of the devices alone left, the end releases.
        if (closer == Closer::kDestructor && (device_.dsp_fd() >= 0 || device_.mixer_fd() >= 0)) {
            SoundDevice device = std::move(device_);
            hold.unlock();
            device.soundcard_close();
            hold.lock();
        }
        block_buf.reset();
        return;
    }
    const int file = wav_fd;
    wav_fd = -1;
    // Both texts print the count as it was, whichever run it counted.
    if (closer != Closer::kDestructor)
        LogMessage("wavrecord.cpp", __LINE__,
                   closer == Closer::kRecord ? "(Record) Write sound data=%ld\n"
                                             : "(Play) Read sound data=%ld\n",
                   static_cast<long>(byte_count));
    byte_count = 0;
    SoundDevice device = std::move(device_);
    ReleaseBlock();
    mode_ = Mode::kIdle;
    hold.unlock();
    // The file and the devices are closed with the stream free: a card or
    // a device that hangs in its close holds up the worker alone, never a
    // stop or a look at the fields meanwhile. A playback wrote nothing: a
    // sync here would only wait out a stalled card's writes.
    sys::close(file);
    device.dsp_reset();
    device.soundcard_close();
}

void CWavRecord::record_close()
{
    Close(Closer::kRecord);
}

void CWavRecord::play_close()
{
    Close(Closer::kPlay);
}

CWavRecord::Fields CWavRecord::fields() const
{
    std::lock_guard<std::mutex> hold(lock_);
    const int64_t count = mode_ == Mode::kRecording ? recording_->Written() : byte_count;
    const bool has_block = block_buf != nullptr || mode_ == Mode::kRecording;
    const int mixer_fd = mode_ == Mode::kRecording ? recording_->mixer_fd() : device_.mixer_fd();
    return Fields{count,  DspFd(),    mixer_fd,  data_offset,
                  wav_fd, block_size, has_block, playback_.in_transfer()};
}
