#pragma once

#include "Models/CaptureMode.h"
#include "platform/core/Image.h"
#include "platform/display/Screen.h"

#include <QDateTime>
#include <QUrl>

#include <optional>

namespace zentola {

// One finished screenshot.
struct CapturedImage {
    platform::Image image;
    QDateTime captureDate;
    CaptureMode mode = CaptureMode::screen;
    // The captured display for screen and rect captures; none for window captures.
    platform::ScreenRef sourceScreen;
    // Where the file was written (a local file URL); none when saving failed.
    std::optional<QUrl> fileURL;

    // The picture for the floating thumbnail: the whole bitmap scaled so its longer side is 300
    // points. pixelsPerPoint sets the bitmap's resolution (the display's scale factor).
    platform::Image thumbnailImage(double pixelsPerPoint = 1.0) const;
    // The thumbnail's size in points for a bitmap of the given pixel size.
    static QSizeF thumbnailSize(double pixelWidth, double pixelHeight);
};

}  // namespace zentola
