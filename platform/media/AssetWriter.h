#pragma once

#include "platform/core/Error.h"
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBufferAdaptor.h"
#include "platform/media/WriterInput.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Writes one movie file from its inputs. The real writer muxes with FFmpeg; tests install a fake
// through setFactory().
class AssetWriter {
public:
    enum class FileType { quickTimeMovie, mpeg4 };
    // The numbers are part of the log output.
    enum class Status { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

    using Factory = std::function<std::shared_ptr<AssetWriter>(const std::string& path, FileType type)>;

    // A writer for a file that does not exist yet. Throws PlatformError when the file exists or
    // its folder cannot be written or has no room. Nothing is created on disk until startWriting().
    static std::shared_ptr<AssetWriter> create(const std::string& path, FileType type);
    // Replaces the writer create() makes (nullptr restores the FFmpeg writer).
    static void setFactory(Factory factory);
    // Hands back to the system the memory writers freed: encoders free hundreds of megabytes on
    // threads of their own, which the allocator would otherwise keep from one recording to the next.
    static void releaseFreedMemory();

    virtual ~AssetWriter() = default;

    virtual const std::string& path() const = 0;
    virtual FileType fileType() const = 0;

    // Inputs are made by the writer they belong to. No settings on an audio input means "store
    // the samples as delivered" where the container can hold them.
    virtual std::shared_ptr<WriterInput> makeVideoInput(const VideoOutputSettings& settings) = 0;
    virtual std::shared_ptr<WriterInput> makeAudioInput(const std::optional<AudioOutputSettings>& settings) = 0;
    virtual std::shared_ptr<PixelBufferAdaptor> makePixelBufferAdaptor(
        const std::shared_ptr<WriterInput>& videoInput, const PixelBufferAdaptor::SourceAttributes& attributes) = 0;

    virtual bool canAdd(const std::shared_ptr<WriterInput>& input) const = 0;
    virtual void add(const std::shared_ptr<WriterInput>& input) = 0;

    // The writer is writing from here on and samples may be appended; the file is created and the
    // encoders opened without holding up the caller, and should that fail the writer fails (status
    // failed, error set) as on a failed write. False when it cannot even begin.
    virtual bool startWriting() = 0;
    // Sample times are written relative to this source time, so the movie begins at it.
    virtual void startSession(MediaTime sourceTime) = 0;
    virtual Status status() const = 0;
    virtual std::optional<PlatformError> error() const = 0;
    // Marks unfinished inputs finished, waits for the encoders to drain and closes the file. done
    // runs once, on a writer thread, after status() holds the final status.
    virtual void finishWriting(std::function<void()> done) = 0;
    // Why a completed movie is the file as it was written while recording (a fragmented movie, which
    // plays) rather than one rewritten with a single index: the rewrite failed, e.g. for lack of room.
    // None when the rewrite succeeded or was never tried. Read after finishWriting's done.
    virtual std::optional<PlatformError> keptAsWritten() const { return std::nullopt; }
};

}  // namespace platform
