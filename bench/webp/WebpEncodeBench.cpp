// One screen-like 3840x2160 RGBA frame, encoded through the package's raw RGBA entry with the
// picture preset at quality 90, the way screenshots are saved.
//   webp_encode_bench --write-pam PATH   writes the same pixels for cwebp
//   webp_encode_bench --encode [OUT]     encodes once, prints "encode_seconds=S bytes=N" (and
//                                        writes the file, to compare it with cwebp's)
//   webp_encode_bench --import           times the library's RGBA import alone, the part of the
//                                        encode that cwebp does while reading its input
#include "packages/webp/WebPEncoder.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

constexpr int width = 3840;
constexpr int height = 2160;

struct Lcg {
    std::uint32_t state;
    std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
};

void fill(std::vector<std::uint8_t>& px, int x0, int y0, int x1, int y1, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
        }
}

// Lines of word-like clusters of thin dark strokes on a light page.
void text(std::vector<std::uint8_t>& px, int x0, int y0, int x1, int y1, Lcg& rng) {
    fill(px, x0, y0, x1, y1, 250, 250, 248);
    for (int line = y0 + 12; line + 14 < y1; line += 22) {
        int x = x0 + 16;
        while (x < x1 - 80) {
            const int word = 3 + static_cast<int>(rng.next() >> 28);
            for (int c = 0; c < word && x < x1 - 20; ++c, x += 9) {
                const std::uint32_t glyph = rng.next();
                for (int gy = 0; gy < 12; ++gy)
                    for (int gx = 0; gx < 7; ++gx)
                        if ((glyph >> ((gy * 7 + gx) % 31)) & 1 && (gx == 0 || gx == 6 || gy == 0 || gy == 6 || gy == 11))
                            fill(px, x + gx, line + gy, x + gx + 1, line + gy + 1, 30, 30, 36);
            }
            x += 9;
        }
    }
}

std::vector<std::uint8_t> screen() {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(width) * height * 4);
    Lcg rng{20240607u};
    // Wallpaper gradient behind everything.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(20 + x * 90 / width);
            p[1] = static_cast<std::uint8_t>(40 + y * 60 / height);
            p[2] = static_cast<std::uint8_t>(120 + (x + y) * 100 / (width + height));
            p[3] = 255;
        }
    fill(px, 0, 0, width, 36, 40, 40, 44);                         // top panel
    fill(px, 100, 120, 2000, 2000, 210, 210, 214);                 // editor window frame
    text(px, 101, 160, 1999, 1999, rng);                           // editor text
    fill(px, 2100, 200, 3700, 1200, 236, 238, 242);                // browser window
    fill(px, 2100, 200, 2400, 1200, 225, 228, 233);                // its sidebar
    text(px, 2420, 260, 3680, 1180, rng);
    fill(px, 2100, 1300, 3700, 2050, 28, 30, 34);                  // dark terminal
    for (int y = 1320; y < 2040; y += 22)                          // its coloured prompt lines
        fill(px, 2120, y, 2120 + static_cast<int>(rng.next() % 1400), y + 12, 120, 200, 130);
    fill(px, 0, height - 48, width, height, 32, 32, 36);           // dock
    for (int i = 0; i < 12; ++i)
        fill(px, 1400 + i * 90, height - 44, 1470 + i * 90, height - 4, static_cast<std::uint8_t>(rng.next()),
             static_cast<std::uint8_t>(rng.next()), static_cast<std::uint8_t>(rng.next()));
    return px;
}

// The parts one after the other, as the file holds them.
bool writeFile(const char* path, std::initializer_list<std::pair<const void*, std::size_t>> parts) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = true;
    for (const auto& [bytes, size] : parts)
        ok = ok && std::fwrite(bytes, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

int writePam(const char* path, const std::vector<std::uint8_t>& px) {
    char header[128];
    const int n = std::snprintf(header, sizeof header,
                                "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", width, height);
    return writeFile(path, {{header, std::size_t(n)}, {px.data(), px.size()}}) ? 0 : 1;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::uint8_t> px = screen();
    if (argc == 3 && std::strcmp(argv[1], "--write-pam") == 0)
        return writePam(argv[2], px);
    if (argc == 2 && std::strcmp(argv[1], "--import") == 0) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = width;
        picture.height = height;
        const auto start = std::chrono::steady_clock::now();
        const int ok = WebPPictureImportRGBA(&picture, px.data(), width * 4);
        const double took = seconds(start);
        WebPPictureFree(&picture);
        std::printf("import_seconds=%.4f\n", took);
        return ok ? 0 : 1;
    }
    if ((argc != 2 && argc != 3) || std::strcmp(argv[1], "--encode") != 0) {
        std::fprintf(stderr, "usage: %s --write-pam PATH | --encode [OUT] | --import\n", argv[0]);
        return 2;
    }
    const auto config = webp::WebpEncoderConfig::preset(webp::WebpEncoderConfig::Preset::picture, 90);
    const auto start = std::chrono::steady_clock::now();
    const webp::Data file = webp::WebPEncoder().encode(webp::RGBA, px.data(), config, width, height, width * 4, 0, 0);
    const double took = seconds(start);
    std::printf("encode_seconds=%.4f bytes=%zu\n", took, file.size());
    return (argc == 3 && !writeFile(argv[2], {{file.data(), file.size()}})) ? 1 : 0;
}
