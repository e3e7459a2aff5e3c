// zentola_screenshot_bench shot FORMAT PATH   grab the main display and write it (png jpeg webp heic tiff)
// zentola_screenshot_bench desktop W H PATH   draw a busy desktop picture to show as the root background
// zentola_screenshot_bench png-tune           grab once and time PNG settings (level, filter, strategy)
// zentola_screenshot_bench grabs               median times of the X11 grabs: whole screen, a large
//                                              window, a resampling to twice the size, and a
//                                              recording's frame that leaves this process's windows out
//                                              (with ZENTOLA_BENCH_SERVER_PID also the X server's time)
#include "Features/Capture/ScreenshotWriter.h"
#include "Services/PersistenceManager.h"
#include "platform/capture/ContentFilter.h"
#include "platform/capture/RunningApplication.h"
#include "platform/capture/ScreenshotService.h"
#include "platform/capture/ShareableContent.h"
#include "platform/capture/StreamConfiguration.h"
#include "platform/capture/X11Connection.h"
#include "platform/capture/X11Grabber.h"
#include "platform/core/Error.h"
#include "platform/imageio/ImageFile.h"
#include "platform/imageio/PngEncoder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <qcoro/qcorotask.h>

#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>

using zentola::PersistenceManager;
using zentola::ScreenshotWriter;

namespace {

QCoro::Task<platform::BitmapRef> grabMainDisplay() {
    const auto content = co_await platform::ShareableContent::get(false, true);
    if (content.displays.empty())
        throw platform::PlatformError("bench", 1, "no display");
    std::vector<platform::RunningApplication> own;
    for (const auto& app : content.applications)
        if (app.bundleIdentifier == platform::RunningApplication::ownBundleIdentifier())
            own.push_back(app);
    const auto& d = content.displays.front();
    platform::StreamConfiguration config;
    config.width = qint64(d.width * d.scaleFactor);
    config.height = qint64(d.height * d.scaleFactor);
    config.showsCursor = false;
    co_return co_await platform::ScreenshotService::captureImage(platform::ContentFilter::forDisplay(d, own, {}), config);
}

int shot(const QString& formatName, const QString& path) {
    std::optional<PersistenceManager::ImageFormat> format;
    for (auto f : PersistenceManager::ImageFormat::allCases())
        if (ScreenshotWriter::caseName(f) == formatName)
            format = f;
    if (!format) {
        std::fprintf(stderr, "unknown format %s\n", qPrintable(formatName));
        return 2;
    }
    const platform::BitmapRef bitmap = QCoro::waitFor(grabMainDisplay());
    const double quality = 0.9;
    const QByteArray bytes =
        *format == PersistenceManager::ImageFormat::webp
            ? ScreenshotWriter::webpData(ScreenshotWriter::straightRGBA(*bitmap), bitmap->width(), bitmap->height(), quality)
            : ScreenshotWriter::imageData(*bitmap, *format, quality);
    QFile::remove(path);
    platform::ImageFile file(QFileInfo(path).absolutePath());
    file.write(bytes);
    return file.publishAs(path) ? 0 : 1;
}

void drawDesktop(int w, int h, const QString& path) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient wall(0, 0, w, h);
    wall.setColorAt(0, QColor("#2b4162"));
    wall.setColorAt(1, QColor("#7a9cc6"));
    p.fillRect(image.rect(), wall);

    QFile licence("/usr/share/common-licenses/GPL-3");
    QString text = licence.open(QIODevice::ReadOnly) ? QString::fromUtf8(licence.readAll()) : QString("lorem ipsum ").repeated(4000);

    // A page of proportional text.
    const QRect page(w * 4 / 100, h * 8 / 100, w * 45 / 100, h * 80 / 100);
    p.fillRect(page, Qt::white);
    p.fillRect(QRect(page.x(), page.y(), page.width(), h / 30), QColor("#e0e0e0"));
    QFont sans("DejaVu Sans");
    sans.setPixelSize(std::max(10, h / 80));
    p.setFont(sans);
    p.setPen(QColor("#222222"));
    p.drawText(page.adjusted(20, h / 30 + 10, -20, -20), Qt::TextWordWrap, text.left(9000));

    // A terminal.
    const QRect term(w * 52 / 100, h * 48 / 100, w * 42 / 100, h * 42 / 100);
    p.fillRect(term, QColor("#1e1e1e"));
    QFont mono("DejaVu Sans Mono");
    mono.setPixelSize(std::max(9, h / 95));
    p.setFont(mono);
    p.setPen(QColor("#c8e6a0"));
    p.drawText(term.adjusted(10, 10, -10, -10), Qt::AlignLeft, text.mid(20000, 6000));

    // A photo: smooth random colour field with grain.
    const QRect photo(w * 55 / 100, h * 6 / 100, w * 35 / 100, h * 36 / 100);
    QImage small(32, 18, QImage::Format_RGB32);
    QRandomGenerator random(7);
    auto* rng = &random;
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x)
            small.setPixel(x, y, qRgb(rng->bounded(256), rng->bounded(256), rng->bounded(256)));
    QImage big = small.scaled(photo.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < big.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(big.scanLine(y));
        for (int x = 0; x < big.width(); ++x) {
            const int n = rng->bounded(7) - 3;
            line[x] = qRgb(std::clamp(qRed(line[x]) + n, 0, 255), std::clamp(qGreen(line[x]) + n, 0, 255),
                           std::clamp(qBlue(line[x]) + n, 0, 255));
        }
    }
    p.drawImage(photo.topLeft(), big);

    // A toolbar with icons.
    const int bar = h / 30;
    p.fillRect(QRect(0, h - bar, w, bar), QColor("#333333"));
    for (int i = 0; i < 12; ++i) {
        p.setBrush(QColor(40 + i * 17, 200 - i * 12, 90 + i * 13));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRect(20 + i * bar * 3 / 2, h - bar + 4, bar - 8, bar - 8), 6, 6);
    }
    p.end();
    image.save(path);
}

void tune() {
    const platform::BitmapRef bitmap = QCoro::waitFor(grabMainDisplay());
    using F = platform::PngEncoder::Filter;
    struct Named {
        const char* name;
        F filter;
    };
    const Named filters[] = {{"none", F::none}, {"sub", F::sub}, {"up", F::up}, {"paeth", F::paeth}, {"adaptive", F::adaptive}};
    const std::pair<const char*, int> strategies[] = {{"default", Z_DEFAULT_STRATEGY}, {"filtered", Z_FILTERED}, {"rle", Z_RLE}};
    for (int level : {1, 2, 3, 4, 6})
        for (const auto& f : filters)
            for (const auto& s : strategies) {
                if (s.second == Z_RLE && level != 1)
                    continue;
                platform::PngEncoder::Settings settings;
                settings.level = level;
                settings.filter = f.filter;
                settings.strategy = s.second;
                std::vector<double> times;
                qsizetype size = 0;
                for (int i = 0; i < 3; ++i) {
                    const auto t0 = std::chrono::steady_clock::now();
                    size = platform::PngEncoder::encode(*bitmap, settings).size();
                    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
                }
                std::sort(times.begin(), times.end());
                std::printf("level=%d filter=%s strategy=%s time=%.4f size=%lld\n", level, f.name, s.first, times[1],
                            (long long)size);
            }
}

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The X server's processor time so far, when ZENTOLA_BENCH_SERVER_PID names it; else -1.
double serverSeconds() {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(qEnvironmentVariable("ZENTOLA_BENCH_SERVER_PID")));
    if (qEnvironmentVariableIsEmpty("ZENTOLA_BENCH_SERVER_PID") || !stat.open(QIODevice::ReadOnly))
        return -1;
    // utime and stime are the 14th and 15th fields, counted after the parenthesised name.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Median wall time and this process's median processor time (all its threads) of fn, in ms.
std::pair<double, double> median(int rounds, const std::function<void()>& fn) {
    std::vector<double> wall, cpu;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = processSeconds();
        fn();
        cpu.push_back(1e3 * (processSeconds() - c0));
        wall.push_back(1e3 * std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void report(const char* what, std::pair<double, double> t) { std::printf("%-28s %7.2f ms  cpu %7.2f ms\n", what, t.first, t.second); }

void grabs() {
    auto x = std::make_shared<platform::X11Connection>();
    xcb_connection_t* c = x->get();
    const int w = x->screen()->width_in_pixels, h = x->screen()->height_in_pixels;
    // A window of most of the screen, painted by the server from its background.
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {0x336699, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x->root(), 0, 0, uint16_t(w * 3 / 4), uint16_t(h * 3 / 4), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, x->screen()->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    const int rounds = 15;
    platform::X11Grabber oneOff(x);
    platform::X11Grabber kept(x, 4);
    platform::BitmapRef keep;
    std::printf("screen %dx%d, window %dx%d\n", w, h, w * 3 / 4, h * 3 / 4);
    report("grabArea one-off", median(rounds, [&] { keep = oneOff.grabArea(QRect(0, 0, w, h)); }));
    keep = nullptr;
    report("grabArea kept memory", median(rounds, [&] { kept.grabArea(QRect(0, 0, w, h)); }));
    report("grabWindow", median(rounds, [&] { kept.grabWindow(window); }));
    const platform::BitmapRef frame = kept.grabArea(QRect(0, 0, w / 2, h / 2));
    report("scaled from half to full", median(rounds, [&] { platform::X11Grabber::scaled(frame, QSize(w, h)); }));

    // A recording's frame leaving this process's windows out while none is on screen: the large
    // window hidden, and the unmapped windows a desktop has plenty of.
    xcb_unmap_window(c, window);
    std::vector<xcb_window_t> hidden(60);
    for (xcb_window_t& each : hidden) {
        each = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, each, x->root(), 10, 10, 50, 50, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          x->screen()->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    }
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    const std::vector<qint32> ours{qint32(getpid())};
    platform::X11Grabber recording(x, 4, false);
    const int frames = rounds * 8;
    const double server0 = serverSeconds();
    report("frame leaving ours out", median(frames, [&] { recording.grabArea(QRect(0, 0, w, h), ours); }));
    if (server0 >= 0)
        std::printf("%-28s %7s     cpu %7.2f ms (mean, X server)\n", "", "", 1e3 * (serverSeconds() - server0) / frames);
    for (xcb_window_t each : hidden)
        xcb_destroy_window(c, each);
    xcb_destroy_window(c, window);
    xcb_flush(c);
}

}  // namespace

int main(int argc, char** argv) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    try {
        if (mode == "desktop" && argc == 5) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            drawDesktop(QString(argv[2]).toInt(), QString(argv[3]).toInt(), QString::fromLocal8Bit(argv[4]));
            return 0;
        }
        QCoreApplication app(argc, argv);
        if (mode == "shot" && argc == 4)
            return shot(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        if (mode == "grabs") {
            grabs();
            return 0;
        }
        if (mode == "png-tune") {
            tune();
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", platform::plainText(e).c_str());
        return 1;
    }
    std::fprintf(stderr, "usage: %s shot FORMAT PATH | desktop W H PATH | png-tune | grabs\n", argv[0]);
    return 2;
}
