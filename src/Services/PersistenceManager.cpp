#include "Services/PersistenceManager.h"

#include "platform/defaults/DefaultsStore.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zentola {

namespace {

const QString kPlaySounds = QStringLiteral("zentola.playSounds");
const QString kCopyToClipboard = QStringLiteral("zentola.copyToClipboard");
const QString kShowFlash = QStringLiteral("zentola.showFlash");
const QString kRecordAtRetina = QStringLiteral("zentola.recordAtRetina");
const QString kJpegQuality = QStringLiteral("zentola.jpegQuality");
const QString kRecordingCountdown = QStringLiteral("zentola.recordingCountdown");
const QString kSaveFormat = QStringLiteral("zentola.saveFormat");
const QString kVideoContainer = QStringLiteral("zentola.videoContainer");
const QString kVideoCodec = QStringLiteral("zentola.videoCodec");
const QString kVideoFrameRate = QStringLiteral("zentola.videoFrameRate");
const QString kAudioOption = QStringLiteral("zentola.videoAudioOption");
const QString kScreenshotFolder = QStringLiteral("zentola.screenshotFolderBookmark");
const QString kVideoFolder = QStringLiteral("zentola.videoFolderBookmark");
const QString kLastCaptureMode = QStringLiteral("zentola.lastCaptureMode");
const QString kSavedRect = QStringLiteral("zentola.savedRect");
const QString kControlBarPosition = QStringLiteral("zentola.controlBarPosition");
const QString kLastWindowOwnerName = QStringLiteral("zentola.lastWindowOwnerName");
const QString kLastWindowTitle = QStringLiteral("zentola.lastWindowTitle");

// The case whose raw value is raw, if any.
template <typename E, std::size_t N>
std::optional<E> caseWithRawValue(const std::array<E, N>& cases, const QString& raw) {
    for (E e : cases)
        if (e.rawValue() == raw)
            return e;
    return std::nullopt;
}

// The desktop's folder for pictures or videos. user-dirs.dirs(5) allows only "$HOME/..." or an
// absolute path there; anything else would land under the working directory, so it counts as unset.
QString userDirectory(QStandardPaths::StandardLocation location) {
    const QString dir = QStandardPaths::writableLocation(location);
    if (QDir::isAbsolutePath(dir))
        return dir;
    return QDir(QDir::homePath())
        .filePath(location == QStandardPaths::MoviesLocation ? QStringLiteral("Videos") : QStringLiteral("Pictures"));
}

QUrl folderIn(QStandardPaths::StandardLocation location) {
    return QUrl::fromLocalFile(QDir(userDirectory(location)).filePath(QStringLiteral("Zentola")));
}

void setOrRemove(platform::DefaultsStore& store, const QString& key, const std::optional<QString>& text) {
    if (text)
        store.setString(key, *text);
    else
        store.remove(key);
}

}  // namespace

// --- enumerations ---------------------------------------------------------------------------

QString PersistenceManager::ImageFormat::rawValue() const {
    switch (v_) {
    case png: return QStringLiteral("PNG");
    case jpeg: return QStringLiteral("JPEG");
    case webp: return QStringLiteral("WebP");
    case heic: return QStringLiteral("HEIC");
    case tiff: return QStringLiteral("TIFF");
    }
    return {};
}

QString PersistenceManager::ImageFormat::fileExtension() const {
    switch (v_) {
    case png: return QStringLiteral("png");
    case jpeg: return QStringLiteral("jpg");
    case webp: return QStringLiteral("webp");
    case heic: return QStringLiteral("heic");
    case tiff: return QStringLiteral("tiff");
    }
    return {};
}

QString PersistenceManager::ImageFormat::utiType() const {
    switch (v_) {
    case png: return QStringLiteral("public.png");
    case jpeg: return QStringLiteral("public.jpeg");
    case webp: return QStringLiteral("org.webmproject.webp");
    case heic: return QStringLiteral("public.heic");
    case tiff: return QStringLiteral("public.tiff");
    }
    return {};
}

std::optional<PersistenceManager::ImageFormat> PersistenceManager::ImageFormat::fromRawValue(const QString& raw) {
    return caseWithRawValue(allCases(), raw);
}

QString PersistenceManager::VideoContainer::rawValue() const {
    return v_ == mp4 ? QStringLiteral("MP4") : QStringLiteral("MOV");
}

QString PersistenceManager::VideoContainer::fileExtension() const {
    return v_ == mp4 ? QStringLiteral("mp4") : QStringLiteral("mov");
}

std::optional<PersistenceManager::VideoContainer> PersistenceManager::VideoContainer::fromRawValue(const QString& raw) {
    return caseWithRawValue(allCases(), raw);
}

QString PersistenceManager::VideoCodec::rawValue() const {
    return v_ == hevc ? QStringLiteral("HEVC") : QStringLiteral("H.264");
}

std::optional<PersistenceManager::VideoCodec> PersistenceManager::VideoCodec::fromRawValue(const QString& raw) {
    return caseWithRawValue(allCases(), raw);
}

QString PersistenceManager::VideoFrameRate::displayName() const {
    return QString::number(rawValue()) + QStringLiteral(" fps");
}

std::optional<PersistenceManager::VideoFrameRate> PersistenceManager::VideoFrameRate::fromRawValue(int raw) {
    for (VideoFrameRate r : allCases())
        if (r.rawValue() == raw)
            return r;
    return std::nullopt;
}

QString PersistenceManager::AudioOption::rawValue() const {
    switch (v_) {
    case none: return QStringLiteral("None");
    case systemAudio: return QStringLiteral("System Audio");
    case microphone: return QStringLiteral("Microphone");
    case both: return QStringLiteral("Both");
    }
    return {};
}

std::optional<PersistenceManager::AudioOption> PersistenceManager::AudioOption::fromRawValue(const QString& raw) {
    return caseWithRawValue(allCases(), raw);
}

// --- the store --------------------------------------------------------------------------------

PersistenceManager& PersistenceManager::shared() {
    static PersistenceManager instance(platform::DefaultsStore::standard());
    return instance;
}

PersistenceManager::PersistenceManager(platform::DefaultsStore& defaults) : defaults_(defaults) {}

bool PersistenceManager::switchValue(const QString& key) const {
    // Absent is on; only a stored value, false included, overrides it.
    return defaults_.contains(key) ? defaults_.boolForKey(key) : true;
}

bool PersistenceManager::playSounds() const { return switchValue(kPlaySounds); }
void PersistenceManager::setPlaySounds(bool on) { defaults_.setBool(kPlaySounds, on); }
bool PersistenceManager::copyToClipboard() const { return switchValue(kCopyToClipboard); }
void PersistenceManager::setCopyToClipboard(bool on) { defaults_.setBool(kCopyToClipboard, on); }
bool PersistenceManager::showFlash() const { return switchValue(kShowFlash); }
void PersistenceManager::setShowFlash(bool on) { defaults_.setBool(kShowFlash, on); }
bool PersistenceManager::recordAtRetina() const { return switchValue(kRecordAtRetina); }
void PersistenceManager::setRecordAtRetina(bool on) { defaults_.setBool(kRecordAtRetina, on); }

double PersistenceManager::jpegQuality() const {
    constexpr double fallback = 0.9;
    if (!defaults_.contains(kJpegQuality))
        return fallback;
    // A hand-edited store may hold anything; every format gets the same 0 to 1.
    const double quality = defaults_.doubleForKey(kJpegQuality);
    return std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : fallback;
}

void PersistenceManager::setJpegQuality(double quality) { defaults_.setDouble(kJpegQuality, quality); }

int PersistenceManager::recordingCountdown() const {
    constexpr int fallback = 3;
    const auto v = defaults_.object(kRecordingCountdown);
    if (!v)
        return fallback;
    double n = 0;
    if (v->typeId() == QMetaType::LongLong || v->typeId() == QMetaType::Int)
        n = static_cast<double>(v->toLongLong());
    else if (v->typeId() == QMetaType::Double)
        n = v->toDouble();
    else
        return fallback;
    if (!std::isfinite(n) || std::floor(n) != n || n < std::numeric_limits<int>::min() ||
        n > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(n);
}

void PersistenceManager::setRecordingCountdown(int seconds) {
    defaults_.setInteger(kRecordingCountdown, std::clamp(seconds, 0, 10));
}

PersistenceManager::ImageFormat PersistenceManager::saveFormat() const {
    return ImageFormat::fromRawValue(defaults_.stringForKey(kSaveFormat).value_or(QString())).value_or(ImageFormat::png);
}

void PersistenceManager::setSaveFormat(ImageFormat format) { defaults_.setString(kSaveFormat, format.rawValue()); }

PersistenceManager::VideoContainer PersistenceManager::videoContainer() const {
    return VideoContainer::fromRawValue(defaults_.stringForKey(kVideoContainer).value_or(QString()))
        .value_or(VideoContainer::mov);
}

void PersistenceManager::setVideoContainer(VideoContainer container) {
    defaults_.setString(kVideoContainer, container.rawValue());
}

PersistenceManager::VideoCodec PersistenceManager::videoCodec() const {
    return VideoCodec::fromRawValue(defaults_.stringForKey(kVideoCodec).value_or(QString())).value_or(VideoCodec::h264);
}

void PersistenceManager::setVideoCodec(VideoCodec codec) { defaults_.setString(kVideoCodec, codec.rawValue()); }

PersistenceManager::VideoFrameRate PersistenceManager::videoFrameRate() const {
    return defaults_.integerForKey(kVideoFrameRate) == 60 ? VideoFrameRate::fps60 : VideoFrameRate::fps30;
}

void PersistenceManager::setVideoFrameRate(VideoFrameRate rate) { defaults_.setInteger(kVideoFrameRate, rate.rawValue()); }

PersistenceManager::AudioOption PersistenceManager::audioOption() const {
    return AudioOption::fromRawValue(defaults_.stringForKey(kAudioOption).value_or(QString())).value_or(AudioOption::none);
}

void PersistenceManager::setAudioOption(AudioOption option) { defaults_.setString(kAudioOption, option.rawValue()); }

// --- folders ----------------------------------------------------------------------------------

QUrl PersistenceManager::defaultScreenshotFolder() {
    static const QUrl folder = folderIn(QStandardPaths::PicturesLocation);
    return folder;
}

QUrl PersistenceManager::defaultVideoFolder() {
    static const QUrl folder = folderIn(QStandardPaths::MoviesLocation);
    return folder;
}

QUrl PersistenceManager::folderURL(const QString& key, const QUrl& fallback) const {
    if (auto path = defaults_.stringForKey(key)) {
        // Only an absolute path to a writable directory is usable: an empty or relative text would
        // otherwise mean the working directory, and a file cannot hold screenshots.
        const QFileInfo info(*path);
        if (!path->isEmpty() && info.isAbsolute() && info.isDir() && info.isWritable())
            return QUrl::fromLocalFile(*path);
        defaults_.remove(key);
    }
    return fallback;
}

QUrl PersistenceManager::screenshotFolderURL() const { return folderURL(kScreenshotFolder, defaultScreenshotFolder()); }
QUrl PersistenceManager::videoFolderURL() const { return folderURL(kVideoFolder, defaultVideoFolder()); }

void PersistenceManager::saveScreenshotFolderAccess(const QUrl& url) {
    defaults_.setString(kScreenshotFolder, url.toLocalFile());
}

void PersistenceManager::saveVideoFolderAccess(const QUrl& url) { defaults_.setString(kVideoFolder, url.toLocalFile()); }

void PersistenceManager::requestFolderAccess(const QString& key, const QString& message, const QString& startDir,
                                             std::function<void(bool)> completion) {
    // A user folder that was never made would leave the dialog in the working directory; start in
    // its nearest existing parent instead.
    QString start = QDir::cleanPath(startDir);
    while (!QFileInfo(start).isDir()) {
        const QString parent = QFileInfo(start).path();
        if (parent == start)
            break;
        start = parent;
    }
    auto* dialog = new QFileDialog(nullptr, message, start);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    // The toolkit's own dialog, so the "Select" button and the new-folder button are always there.
    dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    dialog->setModal(false);
    platform::DefaultsStore* store = &defaults_;
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, store, key, completion = std::move(completion)](int result) {
                         const QStringList chosen = dialog->selectedFiles();
                         const bool ok = result == QDialog::Accepted && !chosen.isEmpty() && !chosen.front().isEmpty();
                         if (ok)
                             store->setString(key, chosen.front());
                         if (completion)
                             completion(ok);
                     });
    dialog->show();
}

void PersistenceManager::requestScreenshotFolderAccess(std::function<void(bool)> completion) {
    requestFolderAccess(kScreenshotFolder, QStringLiteral("Select or create the Zentola folder for saving screenshots"),
                        userDirectory(QStandardPaths::PicturesLocation), std::move(completion));
}

void PersistenceManager::requestVideoFolderAccess(std::function<void(bool)> completion) {
    requestFolderAccess(kVideoFolder, QStringLiteral("Select or create the Zentola folder for saving videos"),
                        userDirectory(QStandardPaths::MoviesLocation), std::move(completion));
}

// --- remembered state -------------------------------------------------------------------------

std::optional<CaptureMode> PersistenceManager::lastCaptureMode() const {
    auto raw = defaults_.stringForKey(kLastCaptureMode);
    return raw ? CaptureMode::fromRawValue(*raw) : std::nullopt;
}

void PersistenceManager::setLastCaptureMode(std::optional<CaptureMode> mode) {
    setOrRemove(defaults_, kLastCaptureMode, mode ? std::optional<QString>(mode->rawValue()) : std::nullopt);
}

std::optional<SelectionRect> PersistenceManager::savedRect() const {
    auto blob = defaults_.dataForKey(kSavedRect);
    return blob ? SelectionRect::fromJson(*blob) : std::nullopt;
}

void PersistenceManager::setSavedRect(const std::optional<SelectionRect>& rect) {
    // JSON has no NaN or infinity: such a rectangle cannot be encoded, so the key is cleared.
    if (!rect || !std::isfinite(rect->origin.x()) || !std::isfinite(rect->origin.y()) ||
        !std::isfinite(rect->size.width()) || !std::isfinite(rect->size.height())) {
        defaults_.remove(kSavedRect);
        return;
    }
    defaults_.setData(kSavedRect, rect->toJson());
}

std::optional<QPointF> PersistenceManager::controlBarPosition() const {
    auto blob = defaults_.dataForKey(kControlBarPosition);
    if (!blob)
        return std::nullopt;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(*blob, &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    const QJsonArray a = doc.array();
    if (a.size() != 2 || !a[0].isDouble() || !a[1].isDouble())
        return std::nullopt;
    return QPointF(a[0].toDouble(), a[1].toDouble());
}

void PersistenceManager::setControlBarPosition(const std::optional<QPointF>& position) {
    if (!position || !std::isfinite(position->x()) || !std::isfinite(position->y())) {
        defaults_.remove(kControlBarPosition);
        return;
    }
    defaults_.setData(kControlBarPosition,
                      QJsonDocument(QJsonArray{position->x(), position->y()}).toJson(QJsonDocument::Compact));
}

void PersistenceManager::saveLastWindow(const WindowInfo& window) {
    setOrRemove(defaults_, kLastWindowOwnerName, window.ownerName);
    setOrRemove(defaults_, kLastWindowTitle, window.title);
}

}  // namespace zentola
