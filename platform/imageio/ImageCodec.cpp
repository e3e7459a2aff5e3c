#include "platform/imageio/ImageCodec.h"

#include "platform/core/Error.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/PngEncoder.h"

#include <jpeglib.h>
#include <libheif/heif.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

namespace {

[[noreturn]] void fail(int code, const std::string& what) { throw PlatformError("ImageCodec", code, what); }

int percent(double quality) { return std::clamp(int(quality * 100.0 + 0.5), 0, 100); }

// --- JPEG

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

// Compresses with the rows handed over by convert; no C++ object lives across the jump.
bool compressJpeg(jpeg_compress_struct* cinfo, JpegError* err, unsigned char** buffer, unsigned long* size, int width,
                  int height, int quality, bool bgrx, const std::uint8_t* pixels, int stride) {
    cinfo->err = jpeg_std_error(&err->manager);
    err->manager.error_exit = jpegErrorExit;
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, buffer, size);
    cinfo->image_width = JDIMENSION(width);
    cinfo->image_height = JDIMENSION(height);
    cinfo->input_components = 4;
    // The encoder reads 32-bit pixels as they are, without a conversion pass.
    cinfo->in_color_space = bgrx ? JCS_EXT_BGRX : JCS_EXT_RGBX;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, std::max(quality, 1), TRUE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + std::size_t(cinfo->next_scanline) * stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

// The bitmap over white, as image viewers show what is see-through, in its own byte order with
// the fourth byte unused.
std::vector<std::uint8_t> overWhite(const Bitmap& bitmap) {
    const int w = bitmap.width(), h = bitmap.height();
    const bool premultiplied = bitmap.alpha() == AlphaMode::premultiplied;
    std::vector<std::uint8_t> out(std::size_t(w) * h * 4);
    std::uint8_t* o = out.data();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = bitmap.row(y);
        for (int x = 0; x < w; ++x, in += 4, o += 4) {
            const unsigned a = in[3], white = 255 - a;
            for (int i = 0; i < 3; ++i)
                o[i] = std::uint8_t(premultiplied ? std::min(255u, in[i] + white) : (in[i] * a + 255 * white + 127) / 255);
        }
    }
    return out;
}

// --- TIFF over a growing memory buffer

struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    toff_t position = 0;
};

tsize_t memRead(thandle_t, tdata_t, tsize_t) { return 0; }
tsize_t memWrite(thandle_t h, tdata_t data, tsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    if (f->position + toff_t(size) > f->bytes.size())
        f->bytes.resize(std::size_t(f->position + size));
    std::memcpy(f->bytes.data() + f->position, data, std::size_t(size));
    f->position += toff_t(size);
    return size;
}
toff_t memSeek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const toff_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? toff_t(f->bytes.size()) : 0;
    f->position = base + offset;
    return f->position;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return toff_t(static_cast<MemoryFile*>(h)->bytes.size()); }
int memMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void memUnmap(thandle_t, tdata_t, toff_t) {}

void silence(const char*, const char*, va_list) {}

}  // namespace

QByteArray ImageCodec::pngData(const Bitmap& bitmap) { return PngEncoder::encode(bitmap); }

QByteArray ImageCodec::jpegData(const Bitmap& bitmap, double quality) {
    jpeg_compress_struct cinfo{};
    JpegError err{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    // JPEG has no alpha: what is see-through is flattened, never left as the black its colour is.
    const std::vector<std::uint8_t> flat = bitmap.alpha() == AlphaMode::opaque ? std::vector<std::uint8_t>() : overWhite(bitmap);
    const bool ok = compressJpeg(&cinfo, &err, &buffer, &size, bitmap.width(), bitmap.height(), percent(quality),
                                 bitmap.format() == PixelFormat::BGRA, flat.empty() ? bitmap.data() : flat.data(),
                                 flat.empty() ? bitmap.bytesPerRow() : bitmap.width() * 4);
    QByteArray out;
    if (ok && buffer)
        out = QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
    free(buffer);
    if (!ok)
        fail(10, "JPEG encoding failed");
    return out;
}

QByteArray ImageCodec::tiffData(const Bitmap& bitmap) {
    TIFFSetErrorHandler(silence);
    TIFFSetWarningHandler(silence);
    MemoryFile file;
    TIFF* tif = TIFFClientOpen("memory", "w", &file, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
    if (!tif)
        fail(20, "Cannot start the TIFF encoder");
    const PixelRows rows(bitmap);
    const int h = bitmap.height();
    const int rowsPerStrip = std::max(1, (1 << 18) / std::max(1, rows.rowBytes()));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(bitmap.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(rows.channels()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip));
    // Deflate with the horizontal predictor: lossless, widely read, and quick at level 1.
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
    if (rows.hasAlpha()) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    std::vector<std::uint8_t> line(std::size_t(rows.rowBytes()));
    bool ok = true;
    for (int y = 0; y < h && ok; ++y) {
        rows.convert(y, line.data());
        ok = TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif) == 1;
    TIFFClose(tif);
    if (!ok)
        fail(21, "TIFF encoding failed");
    return QByteArray(reinterpret_cast<const char*>(file.bytes.data()), qsizetype(file.bytes.size()));
}

QByteArray ImageCodec::heicData(const Bitmap& bitmap, double quality) {
    struct Context {
        heif_context* ctx = heif_context_alloc();
        heif_encoder* encoder = nullptr;
        heif_image* image = nullptr;
        ~Context() {
            if (image)
                heif_image_release(image);
            if (encoder)
                heif_encoder_release(encoder);
            heif_context_free(ctx);
        }
    } c;
    auto check = [](heif_error e, int code) {
        if (e.code != heif_error_Ok)
            fail(code, std::string("HEIC encoding failed: ") + (e.message ? e.message : ""));
    };
    check(heif_context_get_encoder_for_format(c.ctx, heif_compression_HEVC, &c.encoder), 30);
    check(heif_encoder_set_lossy_quality(c.encoder, percent(quality)), 31);
    // About twice as quick as the encoder's default for a few per cent more bytes on screen
    // content; an encoder without the setting keeps its own.
    heif_encoder_set_parameter_string(c.encoder, "preset", "fast");
    const PixelRows rows(bitmap);
    check(heif_image_create(bitmap.width(), bitmap.height(), heif_colorspace_RGB,
                            rows.hasAlpha() ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &c.image),
          32);
    check(heif_image_add_plane(c.image, heif_channel_interleaved, bitmap.width(), bitmap.height(), 8), 33);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(c.image, heif_channel_interleaved, &stride);
    if (!plane)
        fail(34, "HEIC encoding failed: no image plane");
    for (int y = 0; y < bitmap.height(); ++y)
        rows.convert(y, plane + std::size_t(y) * stride);
    check(heif_context_encode_image(c.ctx, c.image, c.encoder, nullptr, nullptr), 35);

    QByteArray out;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* userdata) {
        static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    check(heif_context_write(c.ctx, &writer, &out), 36);
    return out;
}

QByteArray ImageCodec::encode(const Bitmap& bitmap, Format format, double quality) {
    switch (format) {
    case Format::png:
        return pngData(bitmap);
    case Format::jpeg:
        return jpegData(bitmap, quality);
    case Format::heic:
        return heicData(bitmap, quality);
    case Format::tiff:
        return tiffData(bitmap);
    }
    fail(40, "Unknown image format");
}

}  // namespace platform
