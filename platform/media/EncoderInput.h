#pragma once

#include "platform/media/MovieMuxer.h"
#include "platform/media/SampleBuffer.h"
#include "platform/media/WriterInput.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace platform {

// The part every FFmpeg-backed input shares: a bounded queue in front of one encoder thread.
// Producers never wait: a full queue makes the input "not ready" and the sample is the caller's
// to drop. The thread encodes in queue order and hands packets to the muxer.
class EncoderInput : public WriterInput {
public:
    EncoderInput(std::shared_ptr<MovieMuxer> muxer, MediaType type, std::size_t capacity);
    ~EncoderInput() override;

    MediaType mediaType() const override { return type_; }
    bool expectsMediaDataInRealTime() const override { return realTime_; }
    void setExpectsMediaDataInRealTime(bool realTime) override { realTime_ = realTime; }
    bool isReadyForMoreMediaData() const override;
    void markAsFinished() override;

    // Writer side. prepare() opens the encoder on a thread of its own as soon as the input is
    // added: with many threads at a large size that takes as long as several frames, which would
    // otherwise pile up behind it at the first frame. open() waits for that and adds the track
    // (throws PlatformError); start() runs the thread; join() waits until it has drained and
    // flushed (markAsFinished first).
    void prepare();
    void open();
    void start();
    void join();
    int streamIndex() const { return streamIndex_; }

protected:
    struct Sample {
        SampleBuffer buffer;
        std::shared_ptr<AVFrame> picture;  // video: the frame, already in the encoder's format
    };
    // Makes and opens encoder_ (throws PlatformError).
    virtual void openEncoder() = 0;
    bool enqueue(Sample sample);
    // Derived destructors call this first: the thread must not run encode() on a half-destroyed input.
    void stop();
    // On the encoder thread; a thrown PlatformError fails the writer.
    virtual void encode(const Sample& sample) = 0;
    virtual void flush() = 0;
    // Sends one frame (nullptr flushes) and writes every packet the encoder returns.
    void sendFrame(AVFrame* frame);

    std::shared_ptr<MovieMuxer> muxer_;
    AVCodecContext* encoder_ = nullptr;
    int streamIndex_ = -1;

private:
    void run();

    MediaType type_;
    std::size_t capacity_;
    bool realTime_ = false;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Sample> queue_;
    bool finished_ = false;
    std::thread thread_;
    std::thread preparer_;
    std::exception_ptr prepareError_;
    AVPacket* packet_ = nullptr;
};

}  // namespace platform
