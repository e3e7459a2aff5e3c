#pragma once

#include "platform/media/MediaTime.h"

#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// How frames and sound are delivered: one screenshot or a live stream.
struct StreamConfiguration {
    static constexpr quint32 pixelFormatBGRA = 0x42475241;  // 'BGRA'

    // Output size in pixels; 0 takes the source's own pixel size.
    qint64 width = 0;
    qint64 height = 0;
    quint32 pixelFormat = pixelFormatBGRA;
    bool showsCursor = true;
    // Frames come no more often than this; invalid means the display's own pace (60 per second).
    MediaTime minimumFrameInterval = MediaTime::invalid();
    // Display filters only: points in the display's own space, origin at its top-left, y down.
    // A null rectangle is the whole display.
    QRectF sourceRect;

    bool capturesAudio = false;
    int sampleRate = 48000;
    int channelCount = 2;
    bool captureMicrophone = false;
    // The pulse source name; none takes the default source.
    std::optional<QString> microphoneCaptureDeviceID;
};

}  // namespace platform
