#include "platform/media/SampleBuffer.h"

namespace platform {

SampleBuffer SampleBuffer::video(BitmapRef image, MediaTime presentationTime) {
    SampleBuffer b;
    b.kind_ = Kind::video;
    b.ready_ = true;
    b.image_ = std::move(image);
    b.pts_ = presentationTime;
    return b;
}

SampleBuffer SampleBuffer::audio(std::vector<std::uint8_t> bytes, AudioFormat format, MediaTime presentationTime) {
    return audio(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), format, presentationTime);
}

SampleBuffer SampleBuffer::audio(std::shared_ptr<const std::vector<std::uint8_t>> bytes, AudioFormat format,
                                 MediaTime presentationTime) {
    SampleBuffer b;
    b.kind_ = Kind::audio;
    b.ready_ = bytes != nullptr;
    b.format_ = format;
    b.bytes_ = std::move(bytes);
    b.pts_ = presentationTime;
    return b;
}

int SampleBuffer::audioFrameCount() const {
    if (!bytes_ || format_.channelCount <= 0)
        return 0;
    return static_cast<int>(bytes_->size() / static_cast<std::size_t>(format_.bytesPerFrame()));
}

}  // namespace platform
