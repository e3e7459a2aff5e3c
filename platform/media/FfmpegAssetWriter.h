#pragma once

#include "platform/media/AssetWriter.h"
#include "platform/media/EncoderInput.h"
#include "platform/media/MovieMuxer.h"

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// The movie writer over FFmpeg. While recording the file is fragmented (a fragment per key frame,
// about every two seconds), so a process that dies mid-recording leaves a movie that plays up to
// its last fragment. finishWriting() then rewrites it as a regular movie with one index, which
// every player and editor reads, and replaces the fragmented file with it.
class FfmpegAssetWriter : public AssetWriter, public std::enable_shared_from_this<FfmpegAssetWriter> {
public:
    // Less free space than this in the movie's folder refuses the writer: a few seconds of any
    // recording.
    static constexpr unsigned long long minimumFreeSpace = 4ull << 20;

    FfmpegAssetWriter(std::string path, FileType type);
    ~FfmpegAssetWriter() override;

    const std::string& path() const override { return muxer_->path(); }
    FileType fileType() const override { return muxer_->fileType(); }

    std::shared_ptr<WriterInput> makeVideoInput(const VideoOutputSettings& settings) override;
    std::shared_ptr<WriterInput> makeAudioInput(const std::optional<AudioOutputSettings>& settings) override;
    std::shared_ptr<PixelBufferAdaptor> makePixelBufferAdaptor(const std::shared_ptr<WriterInput>& videoInput,
                                                               const PixelBufferAdaptor::SourceAttributes& attributes) override;

    bool canAdd(const std::shared_ptr<WriterInput>& input) const override;
    void add(const std::shared_ptr<WriterInput>& input) override;

    bool startWriting() override;
    void startSession(MediaTime sourceTime) override;
    Status status() const override { return muxer_->status(); }
    std::optional<PlatformError> error() const override { return muxer_->error(); }
    void finishWriting(std::function<void()> done) override;
    std::optional<PlatformError> keptAsWritten() const override;

private:
    struct Candidate {
        std::weak_ptr<WriterInput> input;
        bool supported;
    };
    void open();
    void finish();
    void stopInputs();
    EncoderInput* encoderFor(const std::shared_ptr<WriterInput>& input) const;

    std::shared_ptr<MovieMuxer> muxer_;
    mutable std::mutex mutex_;
    std::vector<Candidate> made_;
    std::vector<std::shared_ptr<EncoderInput>> inputs_;
    std::thread opener_;
    bool started_ = false;
    bool finishing_ = false;
    std::optional<PlatformError> keptAsWritten_;
};

}  // namespace platform
