#include "platform/media/MovieMuxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

PlatformError mediaError(const std::string& what, int averror) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, reason, sizeof reason);
    return PlatformError("MovieWriter", averror, what + ": " + reason);
}

MovieMuxer::MovieMuxer(std::string path, AssetWriter::FileType type) : path_(std::move(path)), type_(type) {
    const char* format = type_ == AssetWriter::FileType::quickTimeMovie ? "mov" : "mp4";
    int rc = avformat_alloc_output_context2(&ctx_, nullptr, format, path_.c_str());
    if (rc < 0 || !ctx_)
        throw mediaError("Cannot make the movie muxer", rc < 0 ? rc : AVERROR(ENOMEM));
}

MovieMuxer::~MovieMuxer() {
    if (ctx_) {
        if (ctx_->pb)
            avio_closep(&ctx_->pb);
        avformat_free_context(ctx_);
    }
}

AVStream* MovieMuxer::addStream(const AVCodecContext* encoder) {
    AVStream* st = avformat_new_stream(ctx_, nullptr);
    if (!st)
        throw mediaError("Cannot add a track", AVERROR(ENOMEM));
    int rc = avcodec_parameters_from_context(st->codecpar, encoder);
    if (rc < 0)
        throw mediaError("Cannot describe a track", rc);
    st->time_base = encoder->time_base;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        st->avg_frame_rate = encoder->framerate;
        st->r_frame_rate = encoder->framerate;
        // Players on other systems only take HEVC tagged this way.
        if (encoder->codec_id == AV_CODEC_ID_HEVC)
            st->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    }
    return st;
}

void MovieMuxer::open() {
    // O_EXCL: a recording never replaces a file that is already there.
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        int err = errno;
        throw PlatformError("FileSystem", err, "Cannot create " + path_ + ": " + std::strerror(err));
    }
    ::close(fd);
    fileCreated_ = true;
    int rc = avio_open(&ctx_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        throw mediaError("Cannot open " + path_, rc);
    // Each packet goes to the kernel as soon as the muxer emits it, so a killed process loses only
    // the fragment being built.
    ctx_->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    ctx_->max_interleave_delta = 1000000;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "2000000", 0);
    rc = avformat_write_header(ctx_, &options);
    av_dict_free(&options);
    if (rc < 0)
        throw mediaError("Cannot write the movie header", rc);
    headerWritten_ = true;
    avio_flush(ctx_->pb);
    written_ = avio_tell(ctx_->pb);
}

void MovieMuxer::writePacket(AVPacket* packet, AVRational encoderTimeBase, int streamIndex) {
    if (!isWriting())
        return;
    std::lock_guard lock(muxMutex_);
    if (!ctx_->pb)
        return;
    packet->stream_index = streamIndex;
    const AVRational timeBase = ctx_->streams[streamIndex]->time_base;
    av_packet_rescale_ts(packet, encoderTimeBase, timeBase);
    if (trackStarts_.size() <= std::size_t(streamIndex))
        trackStarts_.resize(std::size_t(streamIndex) + 1);
    MovieRemuxer::TrackStart& started = trackStarts_[std::size_t(streamIndex)];
    const std::int64_t at = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (!started.second.isValid() && at != AV_NOPTS_VALUE)
        (started.first.isValid() ? started.second : started.first) =
            MediaTime::fromNanoseconds(av_rescale_q(at, timeBase, AVRational{1, MediaTime::nanosecondScale}));
    int rc = av_interleaved_write_frame(ctx_, packet);
    if (rc >= 0 && ctx_->pb->error < 0)
        rc = ctx_->pb->error;
    if (rc >= 0) {
        // Each packet reaches the file whole, and a fragment is written within one packet's write:
        // the file ends on a fragment's end after every successful write.
        written_ = avio_tell(ctx_->pb);
        return;
    }
    // A write that failed (a full disk) may have left part of a fragment behind: what was written
    // before it is kept, so the movie plays up to its last whole fragment.
    avio_closep(&ctx_->pb);
    headerWritten_ = false;
    // Should even that fail, players still read up to the fragment cut short.
    [[maybe_unused]] const int truncated = ::truncate(path_.c_str(), written_);
    fail(mediaError("Cannot write to " + path_, rc));
}

void MovieMuxer::close() {
    std::lock_guard lock(muxMutex_);
    int rc = 0;
    if (headerWritten_) {
        rc = av_write_trailer(ctx_);
        headerWritten_ = false;
    }
    // The last fragment goes out with the trailer. FFmpeg's trailer can answer with a positive
    // number and leave a write that failed (a full disk) on the file's context alone.
    if (rc >= 0 && ctx_->pb && ctx_->pb->error < 0)
        rc = ctx_->pb->error;
    if (ctx_->pb)
        avio_closep(&ctx_->pb);
    if (rc < 0) {
        // What the disk took of the last fragment goes: the movie plays up to the one before.
        [[maybe_unused]] const int truncated = ::truncate(path_.c_str(), written_);
        throw mediaError("Cannot finish " + path_, rc);
    }
}

void MovieMuxer::discardFile() {
    std::lock_guard lock(muxMutex_);
    if (ctx_->pb)
        avio_closep(&ctx_->pb);
    headerWritten_ = false;
    if (fileCreated_)
        ::unlink(path_.c_str());
    fileCreated_ = false;
}

AssetWriter::Status MovieMuxer::status() const {
    std::lock_guard lock(stateMutex_);
    return status_;
}

void MovieMuxer::setStatus(AssetWriter::Status status) {
    std::lock_guard lock(stateMutex_);
    status_ = status;
}

std::optional<PlatformError> MovieMuxer::error() const {
    std::lock_guard lock(stateMutex_);
    return error_;
}

void MovieMuxer::fail(const PlatformError& error) {
    std::lock_guard lock(stateMutex_);
    if (!error_)
        error_ = error;
    status_ = AssetWriter::Status::failed;
}

void MovieMuxer::setOpened(bool opened) {
    {
        std::lock_guard lock(stateMutex_);
        opened_ = opened;
    }
    openedChanged_.notify_all();
}

bool MovieMuxer::waitUntilOpened() {
    std::unique_lock lock(stateMutex_);
    openedChanged_.wait(lock, [this] { return opened_.has_value(); });
    return *opened_;
}

void MovieMuxer::noteVideoEnd(MediaTime time) {
    std::lock_guard lock(stateMutex_);
    if (!videoEnd_.isValid() || videoEnd_ < time)
        videoEnd_ = time;
}

std::vector<MovieRemuxer::TrackStart> MovieMuxer::trackStarts() const {
    std::lock_guard lock(muxMutex_);
    return trackStarts_;
}

MediaTime MovieMuxer::videoEnd() const {
    std::lock_guard lock(stateMutex_);
    return videoEnd_;
}

void MovieMuxer::setSessionStart(MediaTime time) {
    std::lock_guard lock(stateMutex_);
    sessionStart_ = time;
}

MediaTime MovieMuxer::sessionStart() const {
    std::lock_guard lock(stateMutex_);
    return sessionStart_;
}

}  // namespace platform
