// Writes the seed corpus of each fuzz target into <folder>/<target>/: small files of every format
// the target reads, so that fuzzing starts inside the decoders instead of at their first check.
// Made at build time rather than kept in the repository, from the same encoders users' files
// come from.

#include "core/LibraryEncoding.h"
#include "core/Photo.h"
#include "core/UsageRecord.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QJsonDocument>
#include <QPainter>

#include <libheif/heif.h>
#include <png.h>
#include <webp/encode.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <map>
#include <vector>

namespace {

using Seeds = std::map<QString, QByteArray>;

// Colours and edges, so that lossy encoders keep more than a flat block.
QImage picture(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, QColor(200, 30, 30));
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, QColor(20, 90, 200, 180));
    painter.setPen(Qt::white);
    painter.drawLine(0, height - 1, width - 1, 0);
    painter.end();
    return image.convertToFormat(format);
}

QByteArray qtBytes(const QImage& image, const char* format, int quality = -1, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

// ---- JPEG through libjpeg, for what Qt's writer does not set -------------------------------------

struct JpegOptions {
    int components = 3;
    bool progressive = false;
    bool arithmetic = false;
    int restartRows = 0;
    bool fullChroma = false;
    int comments = 0; // empty COM segments before the frame
};

struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

QByteArray jpegBytes(int width, int height, const JpegOptions& options) {
    // Made before the jump point, which a failing libjpeg comes back to past no destructor.
    const QImage source = picture(width, height, QImage::Format_RGB888);
    std::vector<JSAMPLE> row(size_t(width * options.components));
    jpeg_compress_struct info{};
    JpegFailure failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegFailure*>(common->err)->jump, 1);
    };
    unsigned char* output = nullptr;
    unsigned long size = 0;
    if (setjmp(failure.jump)) {
        jpeg_destroy_compress(&info);
        std::free(output);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &output, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = options.components;
    info.in_color_space = options.components == 1   ? JCS_GRAYSCALE
                          : options.components == 4 ? JCS_CMYK
                                                    : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 80, TRUE);
    if (options.progressive)
        jpeg_simple_progression(&info);
    info.arith_code = options.arithmetic ? TRUE : FALSE;
    info.restart_in_rows = options.restartRows;
    if (options.fullChroma && options.components == 3)
        info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    for (int i = 0; i < options.comments; ++i)
        jpeg_write_marker(&info, JPEG_COM, nullptr, 0);
    while (info.next_scanline < info.image_height) {
        const uchar* pixels = source.constScanLine(int(info.next_scanline));
        for (int x = 0; x < width; ++x) {
            const uchar* rgb = pixels + 3 * x;
            JSAMPLE* out = row.data() + x * options.components;
            if (options.components == 1) {
                out[0] = JSAMPLE((rgb[0] + rgb[1] + rgb[2]) / 3);
            } else if (options.components == 4) {
                // Adobe's inverted CMYK, as Photoshop writes it.
                const int k = std::min({255 - rgb[0], 255 - rgb[1], 255 - rgb[2]});
                out[0] = JSAMPLE(rgb[0] + k);
                out[1] = JSAMPLE(rgb[1] + k);
                out[2] = JSAMPLE(rgb[2] + k);
                out[3] = JSAMPLE(255 - k);
            } else {
                std::copy(rgb, rgb + 3, out);
            }
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(output), qsizetype(size));
    std::free(output);
    return bytes;
}

Seeds jpegs() {
    Seeds seeds;
    seeds["baseline.jpg"] = jpegBytes(96, 64, {});
    seeds["restarts-444.jpg"] = jpegBytes(80, 48, {.restartRows = 1, .fullChroma = true});
    seeds["progressive.jpg"] = jpegBytes(96, 64, {.progressive = true});
    seeds["arithmetic-progressive.jpg"] = jpegBytes(64, 64, {.progressive = true, .arithmetic = true});
    seeds["grey.jpg"] = jpegBytes(70, 50, {.components = 1});
    seeds["cmyk.jpg"] = jpegBytes(64, 40, {.components = 4});
    seeds["comments.jpg"] = jpegBytes(32, 32, {.comments = 500});
    seeds["qt-progressive.jpg"] = qtBytes(picture(120, 90), "jpeg", 60, true);
    seeds["turned.jpg"] = vennimo::test::withExifOrientation(jpegBytes(48, 32, {}), 6);
    // A large picture in a few bytes: every scan a pass over its blocks.
    seeds["many-scans.jpg"] = vennimo::test::manyScanJpeg(2000, 1500, 40);
    return seeds;
}

// ---- PNG through libpng, for interlacing and the long-side decoder -------------------------------

QByteArray pngBytes(png_uint_32 width, png_uint_32 height, bool interlaced) {
    QByteArray bytes;
    std::vector<png_byte> row(width);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &bytes,
        [](png_structp p, png_bytep data, size_t length) {
            static_cast<QByteArray*>(png_get_io_ptr(p))
                ->append(reinterpret_cast<const char*>(data), qsizetype(length));
        },
        nullptr);
    // Past libpng's own bound of a million pixels a side, as the long-side decoder's pictures are.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    const int passes = interlaced ? png_set_interlace_handling(png) : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            for (png_uint_32 x = 0; x < width; ++x)
                row[x] = png_byte((x * 7 + y * 3) & 0xff);
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

// ---- HEIF and AVIF through libheif, WebP through libwebp -----------------------------------------

QByteArray heifBytes(heif_compression_format compression, bool thumbnail) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    QByteArray bytes;
    if (heif_context_get_encoder_for_format(context, compression, &encoder).code == heif_error_Ok) {
        heif_encoder_set_lossy_quality(encoder, 40);
        const QImage source = picture(64, 48, QImage::Format_RGB888);
        heif_image* image = nullptr;
        heif_image_create(64, 48, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
        heif_image_add_plane(image, heif_channel_interleaved, 64, 48, 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < 48; ++y)
            std::copy_n(source.constScanLine(y), 64 * 3, plane + y * stride);
        heif_image_handle* handle = nullptr;
        if (heif_context_encode_image(context, image, encoder, nullptr, &handle).code == heif_error_Ok) {
            if (thumbnail) {
                heif_image_handle* small = nullptr;
                heif_context_encode_thumbnail(context, image, handle, encoder, nullptr, 16, &small);
                heif_image_handle_release(small);
            }
            heif_writer writer{};
            writer.writer_api_version = 1;
            writer.write = [](heif_context*, const void* data, size_t size, void* out) {
                static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
                return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
            };
            heif_context_write(context, &writer, &bytes);
        }
        heif_image_handle_release(handle);
        heif_image_release(image);
        heif_encoder_release(encoder);
    }
    heif_context_free(context);
    return bytes;
}

QByteArray webpBytes(bool lossless) {
    const QImage source = picture(64, 48, QImage::Format_RGBA8888);
    uint8_t* output = nullptr;
    const size_t size =
        lossless ? WebPEncodeLosslessRGBA(source.constBits(), 64, 48, int(source.bytesPerLine()), &output)
                 : WebPEncodeRGBA(source.constBits(), 64, 48, int(source.bytesPerLine()), 50, &output);
    QByteArray bytes(reinterpret_cast<const char*>(output), qsizetype(size));
    WebPFree(output);
    return bytes;
}

// One of every format a drop or a watched folder may bring.
Seeds pictures() {
    Seeds seeds = jpegs();
    seeds["rgb.png"] = qtBytes(picture(64, 48), "png");
    seeds["alpha.png"] = qtBytes(picture(64, 48, QImage::Format_ARGB32), "png");
    seeds["palette.png"] = qtBytes(picture(40, 30, QImage::Format_Indexed8), "png");
    seeds["grey16.png"] = qtBytes(picture(40, 30, QImage::Format_Grayscale16), "png");
    seeds["interlaced.png"] = pngBytes(61, 47, true);
    // Its long side across: as many rows would cost the fuzzing build half a second a run.
    seeds["long-side.png"] = pngBytes(1'000'001, 1, false);
    // 4x2 GIF89a, left half red and right half blue.
    seeds["tiny.gif"] = QByteArray::fromHex("474946383961 0400 0200 810000 ff0000 0000ff 000000 000000"
                                            "2c 0000 0000 0400 0200 00 02 07 04c13004c13005 00 3b");
    seeds["lossy.webp"] = webpBytes(false);
    seeds["lossless.webp"] = webpBytes(true);
    seeds["picture.heic"] = heifBytes(heif_compression_HEVC, false);
    seeds["thumbnailed.heic"] = heifBytes(heif_compression_HEVC, true);
    seeds["picture.avif"] = heifBytes(heif_compression_AV1, false);
    seeds["picture.bmp"] = qtBytes(picture(30, 20), "bmp");
    seeds["picture.tiff"] = qtBytes(picture(30, 20), "tiff");
    seeds["picture.ico"] = qtBytes(picture(32, 32, QImage::Format_ARGB32), "ico");
    seeds["picture.svg"] = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"60\" height=\"40\">"
                           "<rect width=\"30\" height=\"40\" fill=\"#c81e1e\"/>"
                           "<circle cx=\"45\" cy=\"20\" r=\"10\" fill=\"blue\" opacity=\"0.5\"/></svg>";
    return seeds;
}

// ---- The state files and the drag data ------------------------------------------------------------

Seeds stateFiles() {
    using namespace vennimo;
    Photo plain;
    plain.id = "0f3c2a9e";
    plain.path = "/home/user/Pictures/Thumbs/a.jpg";
    plain.source = "Pictures";
    plain.added = 786'000'000.5;
    plain.modified = 786'000'100;
    plain.size = 123'456;
    plain.thumbnail = "/home/user/.local/share/vennimo/thumbnails/0f3c2a9e.jpg";
    Photo full = plain;
    full.id = "77aa01";
    full.path = "/home/user/Desktop/\u5199\u771f \"b\".png";
    full.thumbnailModified = 786'000'200.25;
    full.sourceRoot = "/home/user/Desktop";
    full.created = -1.5e9;
    full.usageID = "usage-77aa01";
    full.baselineImported = true;
    full.photosOrigin = PhotosOrigin{"AF31-22/L0/001", "/media/Photos Library.photoslibrary"};
    Photo partOrigin = plain;
    partOrigin.id = "c0ffee";
    partOrigin.photosOrigin = PhotosOrigin{"only-id", std::nullopt};
    Seeds seeds;
    seeds["index.json"] =
        encodeLibrary(Library{{plain, full, partOrigin}, true, QStringList{"/home/user/Desktop"}});
    seeds["empty-index.json"] = encodeLibrary(Library{});
    UsageState usage;
    usage.initialized = true;
    usage.records.insert("0f3c2a9e", UsageRecord{786'000'000, 786'000'500.5});
    usage.records.insert("usage-77aa01", UsageRecord{std::nullopt, 1.0});
    usage.records.insert("c0ffee", UsageRecord{});
    seeds["usage.json"] = QJsonDocument(toJson(usage)).toJson(QJsonDocument::Compact);
    return seeds;
}

Seeds dataUrls(const Seeds& pictures) {
    Seeds seeds;
    for (const char* name : {"rgb.png", "tiny.gif", "baseline.jpg", "lossy.webp"})
        seeds[QString(name) + ".b64"] = pictures.at(name).toBase64();
    seeds["jpeg-url.txt"] = "data:image/jpeg;base64," + pictures.at("grey.jpg").toBase64();
    seeds["svg-url.txt"] =
        "data:image/svg+xml;charset=utf-8," + pictures.at("picture.svg").toPercentEncoding();
    return seeds;
}

// Entries as fuzz_drop_snapshot reads them: the type's index, two bytes of length, the value.
Seeds dragEntries(const Seeds& pictures) {
    const auto entry = [](int type, const QByteArray& value) {
        return QByteArray(1, char(type)) + char(value.size() >> 8) + char(value.size() & 0xff) + value;
    };
    const QByteArray utf16Url =
        QByteArray(reinterpret_cast<const char*>(u"https://example.com/a.jpg\nA"), 54);
    Seeds seeds;
    seeds["uri-list"] = entry(0, "file:///tmp/drop/a.jpg\r\n# a comment\r\nfile:///tmp/drop/b%20c.png\r\n");
    seeds["moz-url"] = entry(1, utf16Url) + entry(2, "https://example.com/b.png");
    seeds["png-and-url"] = entry(3, pictures.at("rgb.png")) + entry(0, "file:///tmp/drop/a.png\r\n");
    seeds["jpeg-heic"] = entry(4, pictures.at("baseline.jpg")) + entry(5, pictures.at("picture.heic"));
    seeds["direct-save"] = entry(8, "photo.jpg") + entry(7, pictures.at("tiny.gif"));
    seeds["photos-asset"] = entry(9, "AF31-22/L0/001") + entry(10, "{}") + entry(11, "/tmp/drop/c.jpg");
    return seeds;
}

bool writeSeeds(const QString& folder, const Seeds& seeds) {
    if (!QDir().mkpath(folder))
        return false;
    for (const auto& [name, bytes] : seeds) {
        // An encoder missing here (no AV1 plugin, say) leaves its seed out, nothing else.
        if (bytes.isEmpty())
            continue;
        QFile file(folder + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_corpora <folder>\n");
        return 2;
    }
    heif_init(nullptr);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const Seeds images = pictures();
    const bool written = writeSeeds(root + "/fuzz_jpeg_decode", jpegs()) &&
                         writeSeeds(root + "/fuzz_drop_save", images) &&
                         writeSeeds(root + "/fuzz_library_decode", stateFiles()) &&
                         writeSeeds(root + "/fuzz_data_url", dataUrls(images)) &&
                         writeSeeds(root + "/fuzz_drop_snapshot", dragEntries(images));
    heif_deinit();
    if (!written) {
        std::fprintf(stderr, "seed_corpora: cannot write under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
