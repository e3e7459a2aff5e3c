#include "platform/media/EncoderInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace platform {

EncoderInput::EncoderInput(std::shared_ptr<MovieMuxer> muxer, MediaType type, std::size_t capacity)
    : muxer_(std::move(muxer)), type_(type), capacity_(capacity) {}

EncoderInput::~EncoderInput() {
    stop();
    av_packet_free(&packet_);
    avcodec_free_context(&encoder_);
}

bool EncoderInput::isReadyForMoreMediaData() const {
    std::lock_guard lock(mutex_);
    return !finished_ && thread_.joinable() && queue_.size() < capacity_ && muxer_->isWriting();
}

bool EncoderInput::enqueue(Sample sample) {
    {
        std::lock_guard lock(mutex_);
        if (finished_ || !thread_.joinable() || queue_.size() >= capacity_ || !muxer_->isWriting())
            return false;
        queue_.push_back(std::move(sample));
    }
    wake_.notify_one();
    return true;
}

void EncoderInput::markAsFinished() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    wake_.notify_one();
}

void EncoderInput::stop() {
    markAsFinished();
    join();
    if (preparer_.joinable())
        preparer_.join();
}

void EncoderInput::prepare() {
    std::lock_guard lock(mutex_);
    if (preparer_.joinable() || encoder_)
        return;
    preparer_ = std::thread([this] {
        try {
            openEncoder();
        } catch (...) {
            prepareError_ = std::current_exception();
        }
    });
}

void EncoderInput::open() {
    std::thread preparer;
    {
        std::lock_guard lock(mutex_);
        preparer = std::move(preparer_);
    }
    if (preparer.joinable())
        preparer.join();
    else if (!encoder_)
        openEncoder();
    if (prepareError_)
        std::rethrow_exception(prepareError_);
    streamIndex_ = muxer_->addStream(encoder_)->index;
}

void EncoderInput::start() {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable() && !finished_)
        thread_ = std::thread([this] { run(); });
}

void EncoderInput::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void EncoderInput::run() {
    // Samples queue up meanwhile; a failed opening leaves them to be drained unencoded.
    muxer_->waitUntilOpened();
    for (;;) {
        Sample sample;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return finished_ || !queue_.empty(); });
            if (queue_.empty())
                break;
            sample = std::move(queue_.front());
            queue_.pop_front();
        }
        if (!muxer_->isWriting())
            continue;  // failed: keep draining so producers see the queue empty out
        try {
            encode(sample);
        } catch (const PlatformError& e) {
            muxer_->fail(e);
        }
    }
    if (muxer_->isWriting()) {
        try {
            flush();
        } catch (const PlatformError& e) {
            muxer_->fail(e);
        }
    }
}

void EncoderInput::sendFrame(AVFrame* frame) {
    if (!packet_)
        packet_ = av_packet_alloc();
    int rc = avcodec_send_frame(encoder_, frame);
    if (rc < 0 && rc != AVERROR_EOF)
        throw mediaError("Cannot encode", rc);
    for (;;) {
        rc = avcodec_receive_packet(encoder_, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return;
        if (rc < 0)
            throw mediaError("Cannot encode", rc);
        muxer_->writePacket(packet_, encoder_->time_base, streamIndex_);
        av_packet_unref(packet_);
    }
}

}  // namespace platform
