#include "platform/media/MovieRemuxer.h"

#include "platform/media/MovieMuxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

void copy(const std::string& source, const std::string& destination, const char* formatName,
          const std::vector<MovieRemuxer::TrackStart>& starts) {
    AVFormatContext* rawIn = nullptr;
    int rc = avformat_open_input(&rawIn, source.c_str(), nullptr, nullptr);
    if (rc < 0)
        throw mediaError("Cannot read " + source, rc);
    std::unique_ptr<AVFormatContext, InputCloser> in(rawIn);

    AVFormatContext* rawOut = nullptr;
    rc = avformat_alloc_output_context2(&rawOut, nullptr, formatName, destination.c_str());
    if (rc < 0)
        throw mediaError("Cannot make the movie muxer", rc);
    std::unique_ptr<AVFormatContext, OutputCloser> out(rawOut);

    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* src = in->streams[i];
        AVStream* dst = avformat_new_stream(out.get(), nullptr);
        if (!dst || avcodec_parameters_copy(dst->codecpar, src->codecpar) < 0)
            throw mediaError("Cannot add a track", AVERROR(ENOMEM));
        dst->time_base = src->time_base;
        dst->avg_frame_rate = src->avg_frame_rate;
        dst->r_frame_rate = src->r_frame_rate;
    }
    rc = avio_open(&out->pb, destination.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        throw mediaError("Cannot open " + destination, rc);
    rc = avformat_write_header(out.get(), nullptr);
    if (rc < 0)
        throw mediaError("Cannot write the movie header", rc);

    std::vector<std::int64_t> shift(in->nb_streams, 0);
    std::vector<int> seen(in->nb_streams, 0);
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    while ((rc = av_read_frame(in.get(), packet.get())) >= 0) {
        auto i = static_cast<std::size_t>(packet->stream_index);
        AVStream* src = in->streams[packet->stream_index];
        if (seen[i] < 2 && i < starts.size()) {
            const MediaTime placed = seen[i]++ == 0 ? starts[i].first : starts[i].second;
            const std::int64_t at = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            if (placed.isValid() && at != AV_NOPTS_VALUE)
                shift[i] = at - av_rescale_q(placed.rescaled(MediaTime::nanosecondScale),
                                             AVRational{1, MediaTime::nanosecondScale}, src->time_base);
        }
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= shift[i];
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= shift[i];
        av_packet_rescale_ts(packet.get(), src->time_base, out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        rc = av_interleaved_write_frame(out.get(), packet.get());
        if (rc < 0)
            throw mediaError("Cannot write " + destination, rc);
    }
    if (rc != AVERROR_EOF)
        throw mediaError("Cannot read " + source, rc);
    rc = av_write_trailer(out.get());
    if (rc < 0)
        throw mediaError("Cannot finish " + destination, rc);
}

}  // namespace

void MovieRemuxer::remux(const std::string& source, const std::string& destination, const char* formatName,
                         const std::vector<MovieRemuxer::TrackStart>& starts) {
    int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        int err = errno;
        throw PlatformError("FileSystem", err, "Cannot create " + destination);
    }
    ::close(fd);
    try {
        copy(source, destination, formatName, starts);
    } catch (...) {
        ::unlink(destination.c_str());
        throw;
    }
}

}  // namespace platform
