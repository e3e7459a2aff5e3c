#include "FakeMovieWriter.h"

#include <QFile>

#include <thread>

using platform::AssetWriter;

FakeMovieWriter::Call::Call(const FakeMovieWriter& writer) : w(writer) {
    if (w.inside_.fetch_add(1) != 0)
        w.overlaps_.fetch_add(1);
    // Widen the window in which an unlocked second caller would be caught.
    std::this_thread::yield();
}

FakeMovieWriter::Call::~Call() { w.inside_.fetch_sub(1); }

void FakeMovieWriter::record(std::string event) const {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<std::string> FakeMovieWriter::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

bool FakeMovieWriter::Input::append(const platform::SampleBuffer& buffer) {
    Call call(writer_);
    if (!appendSucceeds)
        return false;
    ++appended;
    std::lock_guard lock(writer_.mutex_);
    times.push_back(buffer.presentationTimeStamp());
    return true;
}

void FakeMovieWriter::Input::markAsFinished() {
    finished = true;
    writer_.record("finish " + name);
}

bool FakeMovieWriter::Adaptor::append(const platform::BitmapRef& pixelBuffer, platform::MediaTime time) {
    Call call(writer_);
    if (!pixelBuffer || !input_->appendSucceeds)
        return false;
    ++input_->appended;
    std::lock_guard lock(writer_.mutex_);
    input_->times.push_back(time);
    return true;
}

std::shared_ptr<platform::WriterInput> FakeMovieWriter::makeVideoInput(const platform::VideoOutputSettings& settings) {
    videoSettings = settings;
    auto input = std::make_shared<Input>(*this, platform::WriterInput::MediaType::video, "video");
    inputs.push_back(input);
    return input;
}

std::shared_ptr<platform::WriterInput> FakeMovieWriter::makeAudioInput(
    const std::optional<platform::AudioOutputSettings>& settings) {
    audioSettings.push_back(settings);
    auto input = std::make_shared<Input>(*this, platform::WriterInput::MediaType::audio,
                                         settings ? "systemAudio" : "microphone");
    inputs.push_back(input);
    return input;
}

std::shared_ptr<platform::PixelBufferAdaptor> FakeMovieWriter::makePixelBufferAdaptor(
    const std::shared_ptr<platform::WriterInput>& videoInput,
    const platform::PixelBufferAdaptor::SourceAttributes& attributes) {
    adaptorAttributes = attributes;
    return std::make_shared<Adaptor>(*this, std::static_pointer_cast<Input>(videoInput));
}

bool FakeMovieWriter::canAdd(const std::shared_ptr<platform::WriterInput>& input) const {
    auto* in = static_cast<Input*>(input.get());
    if (in->name == "video")
        return !refuseVideo;
    if (in->name == "systemAudio")
        return !refuseAudio;
    return !refuseMicrophone;
}

void FakeMovieWriter::add(const std::shared_ptr<platform::WriterInput>& input) {
    added.push_back(std::static_pointer_cast<Input>(input));
}

bool FakeMovieWriter::startWriting() {
    Call call(*this);
    record("startWriting");
    if (status_ == Status::unknown)
        status_ = Status::writing;
    return status_ == Status::writing;
}

void FakeMovieWriter::startSession(platform::MediaTime sourceTime) {
    Call call(*this);
    record("startSession " + std::to_string(sourceTime.seconds()));
}

std::optional<platform::PlatformError> FakeMovieWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void FakeMovieWriter::failWith(const std::string& description) {
    {
        std::lock_guard lock(mutex_);
        error_ = platform::PlatformError("FakeWriter", 7, description);
    }
    status_ = Status::failed;
}

void FakeMovieWriter::finishWriting(std::function<void()> done) {
    record("finishWriting");
    // Completes later on another thread, as the real writer does.
    std::thread([this, done = std::move(done)] {
        status_ = finishStatus;
        if (finishStatus == Status::completed) {
            QFile f(QString::fromStdString(path_));
            if (f.open(QIODevice::WriteOnly))
                f.write("movie");
        } else {
            std::lock_guard lock(mutex_);
            error_ = platform::PlatformError("FakeWriter", 8, "disk full");
        }
        done();
    }).detach();
}
