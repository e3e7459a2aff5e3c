#include "platform/media/FfmpegAssetWriter.h"

#include "platform/media/AudioEncoderInput.h"
#include "platform/media/FfmpegPixelBufferAdaptor.h"
#include "platform/media/MovieRemuxer.h"
#include "platform/media/VideoEncoderInput.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <thread>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex factoryMutex;
AssetWriter::Factory& installedFactory() {
    static AssetWriter::Factory factory;
    return factory;
}

// A hidden sibling of the movie for the rewrite, so the final rename stays on one file system.
std::string rewritePath(const std::string& path) {
    std::filesystem::path p(path);
    // Appended piece by piece: "." + name trips a false overlap warning of g++ 12 at -O3.
    std::string name(1, '.');
    name.append(p.filename().string()).append(".finishing").append(p.extension().string());
    return (p.parent_path() / name).string();
}

// The encoders' memory, set once for the process before the first encoder allocates.
// - No transparent huge pages: x264 asks for them for its large buffers. Faulting them in at an
//   encoder's first frames stalls it on a busy machine (the first recording after launch lost
//   frames), and after the recording the kernel collapses what the trim gave back into whole huge
//   pages again, so the idle app grew by tens of MiB with nothing to do.
// - Fixed heap thresholds: a heap's free top goes back to the system past 128 KiB. By default the
//   threshold rises with the largest buffer freed (to 64 MiB), and the free tops of the encoder
//   threads' heaps, which a trim leaves alone, kept 10 to 40 MiB after each recording. Buffers
//   up to 32 MiB (pictures, the encoders' planes) come from the heaps, whose free chunks are
//   reused without faulting pages in again and handed back by the trim after the recording.
void setUpEncoderMemory() {
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
}

// The rewrite makes a second copy beside the movie before it replaces it; on a disk without room
// for that it is not tried (it would fill the disk for nothing), and says why.
std::optional<PlatformError> noRoomToRewrite(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    struct statvfs space {};
    if (ec || ::statvfs(std::filesystem::path(path).parent_path().c_str(), &space) != 0)
        return std::nullopt;
    const unsigned long long free = static_cast<unsigned long long>(space.f_bavail) * space.f_frsize;
    // The index and the file system's own blocks take a little more than the packets.
    const unsigned long long needed = size + size / 50 + (1 << 20);
    if (free >= needed)
        return std::nullopt;
    return PlatformError("FileSystem", ENOSPC,
                         "not enough room on the disk to finish it (" + std::to_string((needed + (1 << 20) - 1) >> 20) +
                             " MiB needed, " + std::to_string(free >> 20) + " MiB free)");
}

}  // namespace

std::shared_ptr<AssetWriter> AssetWriter::create(const std::string& path, FileType type) {
    Factory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = installedFactory();
    }
    if (factory)
        return factory(path, type);
    return std::make_shared<FfmpegAssetWriter>(path, type);
}

void AssetWriter::setFactory(Factory factory) {
    std::lock_guard lock(factoryMutex);
    installedFactory() = std::move(factory);
}

void AssetWriter::releaseFreedMemory() { malloc_trim(0); }

FfmpegAssetWriter::FfmpegAssetWriter(std::string path, FileType type) {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        setUpEncoderMemory();
    });
    std::error_code ec;
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found)
        throw PlatformError("FileSystem", EEXIST, "The file " + path + " already exists.");
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty())
        folder.push_back('.');  // not = ".": g++ 12 warns of a false overlap at -O3
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        int err = errno;
        throw PlatformError("FileSystem", err, "Cannot write in " + folder + ": " + std::strerror(err));
    }
    // A full disk is refused now, not with a recording that shows as running and writes nothing.
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) == 0 &&
        static_cast<unsigned long long>(space.f_bavail) * space.f_frsize < minimumFreeSpace)
        throw PlatformError("FileSystem", ENOSPC, "Cannot record in " + folder + ": " + std::strerror(ENOSPC));
    muxer_ = std::make_shared<MovieMuxer>(std::move(path), type);
}

FfmpegAssetWriter::~FfmpegAssetWriter() {
    // Dropped without finishing: stop the encoders and close what was written; the fragmented file
    // plays as it is.
    stopInputs();
    if (muxer_->isWriting()) {
        try {
            muxer_->close();
        } catch (const PlatformError&) {
        }
    }
}

std::shared_ptr<WriterInput> FfmpegAssetWriter::makeVideoInput(const VideoOutputSettings& settings) {
    auto input = std::make_shared<VideoEncoderInput>(muxer_, settings);
    std::lock_guard lock(mutex_);
    made_.push_back({input, VideoEncoderInput::supports(settings)});
    return input;
}

std::shared_ptr<WriterInput> FfmpegAssetWriter::makeAudioInput(const std::optional<AudioOutputSettings>& settings) {
    auto input = std::make_shared<AudioEncoderInput>(muxer_, settings);
    std::lock_guard lock(mutex_);
    made_.push_back({input, AudioEncoderInput::supports(settings)});
    return input;
}

std::shared_ptr<PixelBufferAdaptor> FfmpegAssetWriter::makePixelBufferAdaptor(
    const std::shared_ptr<WriterInput>& videoInput, const PixelBufferAdaptor::SourceAttributes& attributes) {
    auto video = std::dynamic_pointer_cast<VideoEncoderInput>(videoInput);
    if (!video)
        throw PlatformError("MovieWriter", -1, "A pixel buffer adaptor needs a video input");
    return std::make_shared<FfmpegPixelBufferAdaptor>(std::move(video), attributes);
}

EncoderInput* FfmpegAssetWriter::encoderFor(const std::shared_ptr<WriterInput>& input) const {
    return dynamic_cast<EncoderInput*>(input.get());
}

bool FfmpegAssetWriter::canAdd(const std::shared_ptr<WriterInput>& input) const {
    std::lock_guard lock(mutex_);
    if (!input || started_)
        return false;
    auto made = std::find_if(made_.begin(), made_.end(), [&](const Candidate& c) { return c.input.lock() == input; });
    if (made == made_.end() || !made->supported)
        return false;
    bool added = std::any_of(inputs_.begin(), inputs_.end(), [&](const auto& i) { return i.get() == input.get(); });
    bool secondVideo = input->mediaType() == WriterInput::MediaType::video &&
                       std::any_of(inputs_.begin(), inputs_.end(), [](const auto& i) {
                           return i->mediaType() == WriterInput::MediaType::video;
                       });
    return !added && !secondVideo;
}

void FfmpegAssetWriter::add(const std::shared_ptr<WriterInput>& input) {
    if (!canAdd(input))
        throw PlatformError("MovieWriter", -1, "The input cannot be added to this writer");
    auto encoder = std::static_pointer_cast<EncoderInput>(input);
    {
        std::lock_guard lock(mutex_);
        inputs_.push_back(encoder);
    }
    encoder->prepare();
}

// The encoders open as their inputs are added (EncoderInput::prepare); what is left to do at the
// first frame, waiting for them, adding the tracks and writing the header, would still hold up the
// sample queue that brings it, and the frames behind it would be dropped. So the writer is writing
// at once, the samples wait in the inputs' queues, and the opening runs on a thread of its own; a
// failure there fails the writer as a failed write would.
bool FfmpegAssetWriter::startWriting() {
    std::lock_guard lock(mutex_);
    if (started_)
        return false;
    started_ = true;
    if (inputs_.empty()) {
        muxer_->fail(PlatformError("MovieWriter", -1, "A movie needs at least one input"));
        return false;
    }
    muxer_->setStatus(Status::writing);
    for (auto& input : inputs_)
        input->start();
    opener_ = std::thread([this] { open(); });
    return true;
}

void FfmpegAssetWriter::open() {
    try {
        for (auto& input : inputs_)
            input->open();
        muxer_->open();
        muxer_->setOpened(true);
    } catch (const PlatformError& e) {
        muxer_->fail(e);
        muxer_->discardFile();
        muxer_->setOpened(false);
    }
}

void FfmpegAssetWriter::startSession(MediaTime sourceTime) {
    muxer_->setSessionStart(sourceTime);
}

void FfmpegAssetWriter::stopInputs() {
    std::vector<std::shared_ptr<EncoderInput>> inputs;
    {
        std::lock_guard lock(mutex_);
        inputs = inputs_;
        if (opener_.joinable() && opener_.get_id() != std::this_thread::get_id())
            opener_.join();
    }
    for (auto& input : inputs)
        input->markAsFinished();
    for (auto& input : inputs)
        input->join();
}

void FfmpegAssetWriter::finishWriting(std::function<void()> done) {
    {
        std::lock_guard lock(mutex_);
        if (finishing_ || !started_) {
            if (done)
                done();
            return;
        }
        finishing_ = true;
    }
    // Draining the encoders and rewriting the file take a while; never on the caller's thread.
    // The writer is let go before the caller hears of it, so it goes (and its encoders with it)
    // where the caller lets go of it, not here.
    std::thread([self = shared_from_this(), done = std::move(done)]() mutable {
        self->finish();
        self.reset();
        if (done)
            done();
    }).detach();
}

void FfmpegAssetWriter::finish() {
    stopInputs();
    if (!muxer_->isWriting())
        return;
    try {
        muxer_->close();
    } catch (const PlatformError& e) {
        muxer_->fail(e);
        return;
    }
    // The fragmented file is already a whole movie; if the rewrite fails it stays as it is.
    const std::string& path = muxer_->path();
    std::string regular = rewritePath(path);
    std::optional<PlatformError> kept = noRoomToRewrite(path);
    if (!kept) {
        try {
            MovieRemuxer::remux(path, regular, fileType() == FileType::quickTimeMovie ? "mov" : "mp4",
                                muxer_->trackStarts());
            if (std::rename(regular.c_str(), path.c_str()) != 0) {
                const int err = errno;
                ::unlink(regular.c_str());
                kept = PlatformError("FileSystem", err, "Cannot replace " + path + ": " + std::strerror(err));
            }
        } catch (const PlatformError& e) {
            kept = e;
        }
    }
    {
        std::lock_guard lock(mutex_);
        keptAsWritten_ = kept;
    }
    muxer_->setStatus(Status::completed);
}

std::optional<PlatformError> FfmpegAssetWriter::keptAsWritten() const {
    std::lock_guard lock(mutex_);
    return keptAsWritten_;
}

}  // namespace platform
