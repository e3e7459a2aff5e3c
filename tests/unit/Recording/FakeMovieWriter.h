#pragma once

#include "platform/media/AssetWriter.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// A movie writer that records what it is asked to do. Every call checks that no other call into the
// same writer is running at that moment, which is what the recorder's one lock promises.
class FakeMovieWriter : public platform::AssetWriter {
public:
    class Input : public platform::WriterInput {
    public:
        Input(FakeMovieWriter& writer, MediaType type, std::string name) : writer_(writer), type_(type), name(std::move(name)) {}
        MediaType mediaType() const override { return type_; }
        bool expectsMediaDataInRealTime() const override { return realTime; }
        void setExpectsMediaDataInRealTime(bool r) override { realTime = r; }
        bool isReadyForMoreMediaData() const override { return ready; }
        bool append(const platform::SampleBuffer& buffer) override;
        void markAsFinished() override;

        std::atomic<bool> ready{true};
        std::atomic<bool> appendSucceeds{true};
        std::atomic<bool> finished{false};
        std::atomic<int> appended{0};
        bool realTime = false;
        std::vector<platform::MediaTime> times;  // guarded by the writer's record mutex

    private:
        FakeMovieWriter& writer_;
        MediaType type_;

    public:
        const std::string name;
    };

    class Adaptor : public platform::PixelBufferAdaptor {
    public:
        Adaptor(FakeMovieWriter& writer, std::shared_ptr<Input> input) : writer_(writer), input_(std::move(input)) {}
        std::shared_ptr<platform::WriterInput> assetWriterInput() const override { return input_; }
        bool append(const platform::BitmapRef& pixelBuffer, platform::MediaTime presentationTime) override;

    private:
        FakeMovieWriter& writer_;
        std::shared_ptr<Input> input_;
    };

    FakeMovieWriter(std::string path, FileType type) : path_(std::move(path)), type_(type) {}

    const std::string& path() const override { return path_; }
    FileType fileType() const override { return type_; }
    std::shared_ptr<platform::WriterInput> makeVideoInput(const platform::VideoOutputSettings& settings) override;
    std::shared_ptr<platform::WriterInput> makeAudioInput(const std::optional<platform::AudioOutputSettings>& settings) override;
    std::shared_ptr<platform::PixelBufferAdaptor> makePixelBufferAdaptor(
        const std::shared_ptr<platform::WriterInput>& videoInput,
        const platform::PixelBufferAdaptor::SourceAttributes& attributes) override;
    bool canAdd(const std::shared_ptr<platform::WriterInput>& input) const override;
    void add(const std::shared_ptr<platform::WriterInput>& input) override;
    bool startWriting() override;
    void startSession(platform::MediaTime sourceTime) override;
    Status status() const override { return status_; }
    std::optional<platform::PlatformError> error() const override;
    void finishWriting(std::function<void()> done) override;

    // Test controls.
    void failWith(const std::string& description);
    std::vector<std::string> events() const;  // "startWriting", "startSession 5.5", "finish video", ...
    int overlaps() const { return overlaps_; }

    std::atomic<Status> status_{Status::unknown};
    bool refuseVideo = false;
    bool refuseAudio = false;
    bool refuseMicrophone = false;
    // finishWriting's outcome; it writes a file at path() when completing.
    Status finishStatus = Status::completed;
    std::optional<platform::VideoOutputSettings> videoSettings;
    std::vector<std::optional<platform::AudioOutputSettings>> audioSettings;
    std::optional<platform::PixelBufferAdaptor::SourceAttributes> adaptorAttributes;
    std::vector<std::shared_ptr<Input>> inputs;  // made, in order
    std::vector<std::shared_ptr<Input>> added;

    // Counts a call in and out; a second one inside means two threads were in the writer at once.
    struct Call {
        explicit Call(const FakeMovieWriter& w);
        ~Call();
        const FakeMovieWriter& w;
    };
    void record(std::string event) const;

private:
    std::string path_;
    FileType type_;
    mutable std::mutex mutex_;
    mutable std::vector<std::string> events_;
    std::optional<platform::PlatformError> error_;
    mutable std::atomic<int> inside_{0};
    mutable std::atomic<int> overlaps_{0};
};
