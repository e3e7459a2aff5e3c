#include "platform/media/VideoEncoderInput.h"

#include "platform/media/PixelConversion.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <sched.h>
#include <thread>

namespace platform {

namespace {

const char* encoderName(VideoOutputSettings::Codec codec) {
    return codec == VideoOutputSettings::Codec::hevc ? "libx265" : "libx264";
}

long long maxSide(VideoOutputSettings::Codec codec) {
    return codec == VideoOutputSettings::Codec::hevc ? 8192 : 16384;
}

int availableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 0;  // the encoder's own choice
    return std::clamp(CPU_COUNT(&set), 1, 8);
}

}  // namespace

VideoEncoderInput::VideoEncoderInput(std::shared_ptr<MovieMuxer> muxer, const VideoOutputSettings& settings)
    : EncoderInput(std::move(muxer), MediaType::video, queueCapacity(settings.width, settings.height)),
      settings_(settings),
      width_(static_cast<int>(settings.width & ~1LL)),
      height_(static_cast<int>(settings.height & ~1LL)),
      fps_(std::clamp(settings.expectedFrameRate, 1, 240)) {}

VideoEncoderInput::~VideoEncoderInput() {
    stop();
    sws_freeContext(scaler_);
    for (AVFrame*& f : spare_)
        av_frame_free(&f);
}

long long VideoEncoderInput::frameSlot(double position, long long lastSlot) {
    if (position < -0.5)
        return -1;
    const long long next = lastSlot + 1;
    if (position - double(next) < 1.0 && double(next) - position < 0.7)
        return next;
    const long long nearest = std::llround(position);
    // At or before the last slot: it would only repeat the picture at the same time.
    return nearest > lastSlot ? nearest : -1;
}

std::size_t VideoEncoderInput::queueCapacity(long long width, long long height) {
    const long long frameBytes = std::max(1LL, width) * std::max(1LL, height) * 3 / 2;
    return std::size_t(std::clamp(30LL * 1024 * 1024 / frameBytes, 4LL, 16LL));
}

bool VideoEncoderInput::supports(const VideoOutputSettings& s) {
    return s.width >= 2 && s.height >= 2 && s.width <= maxSide(s.codec) && s.height <= maxSide(s.codec) &&
           avcodec_find_encoder_by_name(encoderName(s.codec)) != nullptr;
}

bool VideoEncoderInput::append(const SampleBuffer& buffer) {
    if (!buffer.isVideo() || !buffer.imageBuffer())
        return false;
    return appendFrame(buffer.imageBuffer(), buffer.presentationTimeStamp());
}

bool VideoEncoderInput::appendFrame(const BitmapRef& frame, MediaTime presentationTime) {
    if (!frame || !presentationTime.isValid() || !isReadyForMoreMediaData())
        return false;
    std::shared_ptr<AVFrame> picture;
    try {
        picture = takeFrame();
        convert(*frame, picture.get());
    } catch (const PlatformError& e) {
        muxer_->fail(e);
        return false;
    }
    if (!enqueue({SampleBuffer::video(nullptr, presentationTime), std::move(picture)}))
        return false;
    muxer_->noteVideoEnd(presentationTime + MediaTime::make(1, fps_));
    return true;
}

void VideoEncoderInput::openEncoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName(settings_.codec));
    if (!codec)
        throw mediaError(std::string("No ") + encoderName(settings_.codec) + " encoder", AVERROR_ENCODER_NOT_FOUND);
    encoder_ = avcodec_alloc_context3(codec);
    encoder_->width = width_;
    encoder_->height = height_;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->time_base = AVRational{1, fps_};
    encoder_->framerate = AVRational{fps_, 1};
    // A key frame every two seconds: each starts a fragment, the most an interrupted file loses.
    encoder_->gop_size = 2 * fps_;
    // One encoder thread per core this process may run on (libavcodec's default is a single
    // thread). x264's own choice is half as many again, for throughput offline; a recording only
    // has to keep up with its frame rate, the pictures are the same, and each extra frame thread
    // holds some 20 MB at 1080p. Eight keep up with 4K at 60 fps.
    encoder_->thread_count = settings_.codec == VideoOutputSettings::Codec::hevc ? 0 : availableCores();
    encoder_->color_range = AVCOL_RANGE_MPEG;
    encoder_->colorspace = AVCOL_SPC_BT709;
    encoder_->color_primaries = AVCOL_PRI_BT709;
    encoder_->color_trc = AVCOL_TRC_BT709;
    if (muxer_->context()->oformat->flags & AVFMT_GLOBALHEADER)
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (settings_.codec == VideoOutputSettings::Codec::hevc) {
        av_dict_set(&options, "preset", "ultrafast", 0);
        av_dict_set(&options, "crf", "26", 0);
        av_dict_set(&options, "x265-params", "log-level=error", 0);
    } else {
        av_dict_set(&options, "preset", "superfast", 0);
        av_dict_set(&options, "crf", "23", 0);
        // This preset's look-ahead is light work; on a thread of its own it would hold several
        // more frames in flight (some 40 MB at 1080p) for nothing.
        av_dict_set(&options, "x264-params", "sync-lookahead=0", 0);
    }
    av_dict_set(&options, "forced-idr", "1", 0);
    int rc = avcodec_open2(encoder_, codec, &options);
    av_dict_free(&options);
    if (rc < 0)
        throw mediaError(std::string("Cannot open the ") + encoderName(settings_.codec) + " encoder", rc);
}

std::shared_ptr<AVFrame> VideoEncoderInput::takeFrame() {
    AVFrame* f = nullptr;
    {
        std::lock_guard lock(spareMutex_);
        if (!spare_.empty()) {
            f = spare_.back();
            spare_.pop_back();
        }
    }
    // The encoder copies each picture it is sent; one it still holds a reference to gets buffers of its own.
    if (!f || av_frame_make_writable(f) < 0) {
        av_frame_free(&f);
        if ((f = av_frame_alloc())) {
            f->format = AV_PIX_FMT_YUV420P;
            f->width = width_;
            f->height = height_;
        }
        if (!f || av_frame_get_buffer(f, 0) < 0) {
            av_frame_free(&f);
            throw mediaError("Cannot allocate a video frame", AVERROR(ENOMEM));
        }
    }
    return std::shared_ptr<AVFrame>(f, [this](AVFrame* done) {
        std::lock_guard lock(spareMutex_);
        if (spare_.size() < keptFrames)
            spare_.push_back(done);
        else
            av_frame_free(&done);
    });
}

void VideoEncoderInput::convert(const Bitmap& image, AVFrame* frame) {
    // The usual case: the frame has the movie's size (an odd edge loses its last pixel).
    if (image.width() - width_ >= 0 && image.width() - width_ <= 1 && image.height() - height_ >= 0 &&
        image.height() - height_ <= 1)
        PixelConversion::toI420(image, width_, height_,
                                {frame->data[0], frame->data[1], frame->data[2], frame->linesize[0],
                                 frame->linesize[1], frame->linesize[2]});
    else
        scale(image, frame);
}

void VideoEncoderInput::encode(const Sample& sample) {
    const MediaTime start = muxer_->sessionStart();
    AVFrame* frame = sample.picture.get();
    const long long slot = frame && start.isValid()
                               ? frameSlot((sample.buffer.presentationTimeStamp() - start).seconds() * fps_, lastSlot_)
                               : -1;
    if (slot < 0) {
        ++leftOut_;
        return;
    }
    frame->pts = slot;
    // Key frames by time as well, so fragments stay about two seconds long when frames are skipped.
    bool keyDue = lastKeySlot_ < 0 || slot - lastKeySlot_ >= 2LL * fps_;
    frame->pict_type = keyDue ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (keyDue)
        lastKeySlot_ = slot;
    lastSlot_ = slot;
    sendFrame(frame);
}

// A frame of another size (a window that changed size): scaled to the movie's.
void VideoEncoderInput::scale(const Bitmap& image, AVFrame* frame) {
    if (!scaler_ || image.width() != sourceWidth_ || image.height() != sourceHeight_) {
        sws_freeContext(scaler_);
        sourceWidth_ = image.width();
        sourceHeight_ = image.height();
        // Opaque frames may carry anything in their fourth byte (the grab leaves it undefined).
        const bool opaque = image.alpha() == AlphaMode::opaque;
        const bool bgra = image.format() == PixelFormat::BGRA;
        AVPixelFormat in = bgra ? (opaque ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGRA) : (opaque ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_RGBA);
        scaler_ = sws_getContext(sourceWidth_, sourceHeight_, in, width_, height_, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                 nullptr, nullptr, nullptr);
        if (!scaler_)
            throw mediaError("Cannot convert the frame", AVERROR(EINVAL));
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler_, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    const std::uint8_t* src[1] = {image.data()};
    const int stride[1] = {image.bytesPerRow()};
    sws_scale(scaler_, src, stride, 0, sourceHeight_, frame->data, frame->linesize);
}

void VideoEncoderInput::flush() {
    if (encoder_)
        sendFrame(nullptr);
}

}  // namespace platform
