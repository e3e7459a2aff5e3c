#pragma once

#include "platform/core/Error.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/MediaTime.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

struct AVFormatContext;
struct AVStream;
struct AVPacket;
struct AVRational;
struct AVCodecContext;

namespace platform {

// The file side of a movie being written: the FFmpeg output context, the writer's status and error
// and the session's start time. The writer and each of its encoder threads share it; packets from
// the encoders are interleaved under its own mutex.
class MovieMuxer {
public:
    MovieMuxer(std::string path, AssetWriter::FileType type);
    ~MovieMuxer();
    MovieMuxer(const MovieMuxer&) = delete;
    MovieMuxer& operator=(const MovieMuxer&) = delete;

    const std::string& path() const { return path_; }
    AssetWriter::FileType fileType() const { return type_; }
    AVFormatContext* context() const { return ctx_; }
    // A new stream whose parameters come from an opened encoder.
    AVStream* addStream(const AVCodecContext* encoder);

    // Creates the file (never replacing one) and writes a fragmented header, so a recording cut
    // short still plays up to its last fragment. Throws PlatformError.
    void open();
    // Rescales from the encoder's time base and interleaves. A failure marks the writer failed.
    void writePacket(AVPacket* packet, AVRational encoderTimeBase, int streamIndex);
    // Writes the trailer and closes the file. Throws PlatformError.
    void close();
    // Removes the file this muxer created (a start that failed half-way).
    void discardFile();

    AssetWriter::Status status() const;
    void setStatus(AssetWriter::Status status);
    std::optional<PlatformError> error() const;
    // Marks the writer failed with the first error; later errors are ignored.
    void fail(const PlatformError& error);
    bool isWriting() const { return status() == AssetWriter::Status::writing; }

    void setSessionStart(MediaTime time);
    MediaTime sessionStart() const;

private:
    std::string path_;
    AssetWriter::FileType type_;
    AVFormatContext* ctx_ = nullptr;
    bool fileCreated_ = false;
    bool headerWritten_ = false;
    // Writes can take a while (a whole fragment reaches the disk at once); the status lock is a
    // separate one so the sample threads asking for the status never wait on the disk.
    std::mutex muxMutex_;
    mutable std::mutex stateMutex_;
    AssetWriter::Status status_ = AssetWriter::Status::unknown;
    std::optional<PlatformError> error_;
    MediaTime sessionStart_ = MediaTime::invalid();
};

// A PlatformError for a failed FFmpeg call: what was attempted and FFmpeg's own reason.
PlatformError mediaError(const std::string& what, int averror);

}  // namespace platform
