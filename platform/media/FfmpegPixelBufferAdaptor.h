#pragma once

#include "platform/media/PixelBufferAdaptor.h"
#include "platform/media/VideoEncoderInput.h"

namespace platform {

class FfmpegPixelBufferAdaptor : public PixelBufferAdaptor {
public:
    FfmpegPixelBufferAdaptor(std::shared_ptr<VideoEncoderInput> input, SourceAttributes attributes)
        : input_(std::move(input)), attributes_(attributes) {}

    std::shared_ptr<WriterInput> assetWriterInput() const override { return input_; }
    bool append(const BitmapRef& pixelBuffer, MediaTime presentationTime) override {
        if (!pixelBuffer || attributes_.pixelFormat != SourceAttributes::pixelFormatBGRA)
            return false;
        return input_->appendFrame(pixelBuffer, presentationTime);
    }
    long long framesLeftOut() const override { return input_->framesLeftOut(); }

private:
    std::shared_ptr<VideoEncoderInput> input_;
    SourceAttributes attributes_;
};

}  // namespace platform
