#pragma once

#include "platform/capture/ScreenCaptureProvider.h"
#include "platform/core/MainThread.h"
#include "platform/media/AssetWriter.h"
#include "unit/Stream/FakeSources.h"

#include <QFile>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Shareable content set by hand; a test may hold the answer back with `gate`.
class FakeCaptureProvider : public platform::ScreenCaptureProvider {
public:
    QCoro::Task<platform::ShareableContent> shareableContent(bool, bool) override {
        ++requests;
        if (gate)
            co_await *gate;
        platform::ShareableContent answer = content;  // the promise moves from what it is given
        co_return answer;
    }
    QCoro::Task<platform::BitmapRef> captureImage(platform::ContentFilter, platform::StreamConfiguration) override {
        co_return platform::BitmapRef();
    }
    std::vector<platform::WindowListEntry> windowList(bool, bool) override { return {}; }

    platform::ShareableContent content;
    std::optional<platform::Completion<void>> gate;
    int requests = 0;
};

// A movie writer that records what it is asked to do; its inputs are their own adaptors.
class FakeMovieWriter : public platform::AssetWriter {
public:
    struct Input : platform::WriterInput, platform::PixelBufferAdaptor {
        Input(FakeMovieWriter& w, MediaType type, std::string name) : w(w), type(type), name(std::move(name)) {}
        MediaType mediaType() const override { return type; }
        bool expectsMediaDataInRealTime() const override { return realTime; }
        void setExpectsMediaDataInRealTime(bool r) override { realTime = r; }
        bool isReadyForMoreMediaData() const override { return ready; }
        bool append(const platform::SampleBuffer& b) override { return take(b.presentationTimeStamp()); }
        void markAsFinished() override { w.record("finish " + name); }
        std::shared_ptr<platform::WriterInput> assetWriterInput() const override { return self.lock(); }
        bool append(const platform::BitmapRef& pixels, platform::MediaTime t) override { return pixels && take(t); }
        bool take(platform::MediaTime t) {
            std::lock_guard lock(w.mutex_);
            if (appendSucceeds)
                times.push_back(t);
            return appendSucceeds;
        }
        std::size_t appended() const {
            std::lock_guard lock(w.mutex_);
            return times.size();
        }

        FakeMovieWriter& w;
        MediaType type;
        const std::string name;
        std::weak_ptr<Input> self;
        std::atomic<bool> ready{true}, appendSucceeds{true};
        bool realTime = false;
        std::vector<platform::MediaTime> times;  // guarded by the writer's mutex
    };

    FakeMovieWriter(std::string path, FileType type) : path_(std::move(path)), type_(type) {}

    const std::string& path() const override { return path_; }
    FileType fileType() const override { return type_; }
    std::shared_ptr<platform::WriterInput> makeVideoInput(const platform::VideoOutputSettings& s) override {
        videoSettings = s;
        return make(platform::WriterInput::MediaType::video, "video");
    }
    std::shared_ptr<platform::WriterInput> makeAudioInput(const std::optional<platform::AudioOutputSettings>& s) override {
        audioSettings.push_back(s);
        return make(platform::WriterInput::MediaType::audio, s ? "systemAudio" : "microphone");
    }
    std::shared_ptr<platform::PixelBufferAdaptor> makePixelBufferAdaptor(const std::shared_ptr<platform::WriterInput>& input,
                                                                         const platform::PixelBufferAdaptor::SourceAttributes&) override {
        return std::static_pointer_cast<Input>(input);
    }
    bool canAdd(const std::shared_ptr<platform::WriterInput>& input) const override {
        return static_cast<Input*>(input.get())->name == "video" ? !refuseVideo : !refuseAudio;
    }
    void add(const std::shared_ptr<platform::WriterInput>& input) override { added.push_back(std::static_pointer_cast<Input>(input)); }
    bool startWriting() override {
        record("startWriting");
        if (status_ == Status::unknown)
            status_ = Status::writing;
        return status_ == Status::writing;
    }
    void startSession(platform::MediaTime t) override { record("startSession " + std::to_string(t.seconds())); }
    Status status() const override { return status_; }
    std::optional<platform::PlatformError> keptAsWritten() const override { return kept; }
    std::optional<platform::PlatformError> error() const override {
        std::lock_guard lock(mutex_);
        return error_;
    }
    // Completes later on another thread, as the real writer does; a completed movie is a file.
    void finishWriting(std::function<void()> done) override {
        record("finishWriting");
        std::thread([this, done = std::move(done)] {
            QFile f(QString::fromStdString(path_));
            if (finishStatus == Status::completed && f.open(QIODevice::WriteOnly))
                status_ = Status::completed;
            else
                failWith("disk full");
            done();
        }).detach();
    }

    void failWith(const std::string& description) {
        std::lock_guard lock(mutex_);
        error_ = platform::PlatformError("FakeWriter", 7, description);
        status_ = Status::failed;
    }
    void record(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    // "startWriting", "startSession 5.500000", "finish video", "finishWriting", ...
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::shared_ptr<Input> input(const std::string& name) const {
        auto it = std::find_if(added.begin(), added.end(), [&](auto& i) { return i->name == name; });
        return it == added.end() ? nullptr : *it;
    }

    bool refuseVideo = false, refuseAudio = false;
    Status finishStatus = Status::completed;
    std::optional<platform::PlatformError> kept;  // the finish left the movie as written, and why
    std::optional<platform::VideoOutputSettings> videoSettings;
    std::vector<std::optional<platform::AudioOutputSettings>> audioSettings;
    std::vector<std::shared_ptr<Input>> added;

private:
    std::shared_ptr<Input> make(platform::WriterInput::MediaType type, const char* name) {
        auto input = std::make_shared<Input>(*this, type, name);
        input->self = input;
        return input;
    }

    std::string path_;
    FileType type_;
    std::atomic<Status> status_{Status::unknown};
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::optional<platform::PlatformError> error_;
};

