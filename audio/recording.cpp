#include "audio/recording.h"

#include "app/budget.h"
#include "app/logmessage.h"

std::unique_ptr<Recording> Recording::Start(Source& source)
{
    std::shared_ptr<RecordWriter> writer = RecordWriter::Create();
    if (!writer) {
        LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        return nullptr;
    }
    return std::unique_ptr<Recording>(new Recording(std::move(writer), source));
}

Recording::Recording(std::shared_ptr<RecordWriter> writer, Source& source)
    : writer_(std::move(writer)),
      capture_(
          new Capture(std::move(source.device), source.block, source.wake, source.signal, writer_))
{
}

Recording::~Recording()
{
    SoundDevice device;
    StopCapture(budget::kCaptureStop, &device);
    // A writer that has the file closes it (at once here: only a failed
    // start ends this way); one that never got it has nothing to end.
    if (began_)
        writer_->Finish(std::chrono::milliseconds(0), nullptr);
}

bool Recording::MakeFile(RecordWriter::Files files, CardChores& card,
                         std::chrono::milliseconds wait)
{
    began_ = true;
    writer_->Begin(std::move(files), card);
    return writer_->HeaderWritten(wait);
}

bool Recording::StopCapture(std::chrono::milliseconds wait, SoundDevice* device)
{
    capture_->Closing();
    return capture_->Stop(wait, device);
}

std::shared_ptr<RecordWriter> Recording::Finish(std::chrono::milliseconds wait, bool log_count)
{
    std::function<void(int64_t)> closed;
    if (log_count) {
        closed = [](int64_t written) {
            // The count of a long recording outgrows a 32-bit long.
            LogMessage("wavrecord.cpp", __LINE__, "(Record) Write sound data=%lld\n",
                       static_cast<long long>(written));
        };
    }
    began_ = false;
    writer_->Finish(wait, std::move(closed));
    return writer_;
}
