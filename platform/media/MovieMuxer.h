#pragma once

#include "platform/core/Error.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MovieRemuxer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
    // The encoders and the file are opened off the sample threads; the encoder threads wait here
    // for the outcome (true: opened) before their first sample.
    void setOpened(bool opened);
    bool waitUntilOpened();
    // Rescales from the encoder's time base and interleaves. A failure marks the writer failed and
    // closes the file at the end of the last write that succeeded.
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
    // Where the latest video frame appended so far ends, so sound that stopped early is filled up
    // to the picture's end.
    void noteVideoEnd(MediaTime time);
    MediaTime videoEnd() const;
    // Per track, where its first two packets were placed on the movie's time line.
    std::vector<MovieRemuxer::TrackStart> trackStarts() const;

private:
    std::string path_;
    AssetWriter::FileType type_;
    AVFormatContext* ctx_ = nullptr;
    bool fileCreated_ = false;
    bool headerWritten_ = false;
    long long written_ = 0;  // the file's size after the last write that succeeded
    std::vector<MovieRemuxer::TrackStart> trackStarts_;
    // Writes can take a while (a whole fragment reaches the disk at once); the status lock is a
    // separate one so the sample threads asking for the status never wait on the disk.
    mutable std::mutex muxMutex_;
    mutable std::mutex stateMutex_;
    AssetWriter::Status status_ = AssetWriter::Status::unknown;
    std::optional<PlatformError> error_;
    MediaTime sessionStart_ = MediaTime::invalid();
    MediaTime videoEnd_ = MediaTime::invalid();
    std::condition_variable openedChanged_;
    std::optional<bool> opened_;
};

// A PlatformError for a failed FFmpeg call: what was attempted and FFmpeg's own reason.
PlatformError mediaError(const std::string& what, int averror);

}  // namespace platform
