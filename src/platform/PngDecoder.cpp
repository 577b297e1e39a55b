#include "platform/PngDecoder.h"

#include "platform/FileDescriptor.h"

#include <QColorSpace>
#include <QFile>

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vennimo {

namespace {

constexpr qsizetype kHeaderBytes = 8 + 8 + 8; // signature, IHDR length and type, width and height
constexpr png_uint_32 kIccHeaderBytes = 128;
// The ancillary chunks a picture is drawn with besides tRNS, which libpng always reads: its colour.
// libpng 1.6 takes every other one (text, calibrations, palettes of suggestions, unknown chunks)
// into a buffer of the length the chunk claims, up to 2 GiB, before it finds whether the data is
// there at all; stepped over unread, they cost nothing but the reading.
constexpr png_byte kColourChunks[] = "iCCP\0sRGB\0gAMA";
constexpr int kColourChunkCount = 3;
// The largest colour profile read, which libpng inflates into a buffer of the length its header
// claims: printer profiles with fine tables come to a few megabytes. libpng's own default where it
// is built with its safe limits, set here whatever way it was built.
constexpr png_alloc_size_t kMaxProfileBytes = 8'000'000;

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// Where libpng pulls its bytes from: a descriptor, or memory.
struct Input {
    const std::function<bool()>* stop = nullptr;
    int fd = -1;
    const char* data = nullptr;
    size_t size = 0;
    size_t at = 0;
};

// No object with a destructor lives in the frames png_error() jumps across.
void readInput(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<Input*>(png_get_io_ptr(png));
    if (input->fd < 0) {
        if (input->size - input->at < length)
            png_error(png, "truncated");
        std::memcpy(out, input->data + input->at, length);
        input->at += length;
        return;
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(input->fd, out + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            png_error(png, "truncated");
        done += size_t(n);
    }
}

void fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// What Qt's reader made of the colour chunks: the profile, else sRGB, else a gamma on sRGB's
// primaries. Chunks before the pixels only, which is where the format puts them.
QColorSpace colourSpace(png_structp png, png_infop info) {
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && length >= kIccHeaderBytes &&
        std::memcmp(profile + 36, "acsp", 4) == 0) {
        // Qt warns about what is plainly no profile; such a chunk is left out without a word.
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)));
        if (space.isValid())
            return space;
    }
    int intent = 0;
    if (png_get_sRGB(png, info, &intent) != 0)
        return QColorSpace::SRgb;
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) != 0 && gamma > 0)
        return QColorSpace(QColorSpace::Primaries::SRgb, float(1.0 / gamma));
    return {};
}

// Area averaging of rows given top to bottom into a smaller picture, each source pixel shared
// between the target pixels it overlaps: two rows of sums, so that the memory is the target's
// and a row's whatever the source. Colours are weighed by their alpha, as a smooth scaling of the
// premultiplied picture does, so that transparent pixels bring no colour of their own.
class RowShrinker {
public:
    void start(qint64 sourceWidth, qint64 sourceHeight, QImage* target, bool alpha) {
        m_target = target;
        m_alpha = alpha;
        m_sourceWidth = sourceWidth;
        m_sourceHeight = sourceHeight;
        m_cells = target->width();
        m_targetHeight = target->height();
        const size_t sums = size_t(m_cells) * 4;
        m_rowSums.assign(sums, 0);
        m_sums.assign(sums, 0);
        m_nextSums.assign(sums, 0);
        m_row = 0;
        m_cellRow = 0;
    }

    void add(const uchar* row) {
        // In units where a source row is as high as the target and a target row as the source.
        const qint64 top = m_row * m_targetHeight, bottom = top + m_targetHeight;
        const qint64 border = (m_cellRow + 1) * m_sourceHeight;
        ++m_row;
        // A row wholly inside one target row, as nearly all are when a tall picture shrinks, goes
        // straight into its sums: the cost of a row is then its pixels and little more.
        if (bottom < border) {
            sumRow(row, m_sums.data(), quint64(m_targetHeight));
            return;
        }
        quint64* rowSums = m_rowSums.data();
        std::fill(m_rowSums.begin(), m_rowSums.end(), 0);
        sumRow(row, rowSums, 1);
        const size_t count = m_sums.size();
        quint64* sums = m_sums.data();
        const quint64 weight = quint64(border - top);
        for (size_t i = 0; i < count; ++i)
            sums[i] += rowSums[i] * weight;
        if (bottom > border) {
            quint64* next = m_nextSums.data();
            const quint64 rest = quint64(bottom - border);
            for (size_t i = 0; i < count; ++i)
                next[i] += rowSums[i] * rest;
        }
        flush();
        m_sums.swap(m_nextSums);
        std::fill(m_nextSums.begin(), m_nextSums.end(), 0);
    }

private:
    // One source row into `sums`, each cell's share times `weight`, a pixel across the border of two
    // cells shared between them.
    void sumRow(const uchar* row, quint64* sums, quint64 weight) const {
        const qint64 cells = m_cells;
        qint64 x = 0;
        for (qint64 cell = 0; cell < cells; ++cell, sums += 4) {
            const qint64 border = (cell + 1) * m_sourceWidth;
            const qint64 wholeEnd = border / cells;
            quint64 whole[4] = {};
            for (; x < wholeEnd; ++x)
                addPixel(whole, row + x * 4, 1);
            const quint64 scale = quint64(cells) * weight;
            sums[0] += whole[0] * scale;
            sums[1] += whole[1] * scale;
            sums[2] += whole[2] * scale;
            sums[3] += whole[3] * scale;
            if (wholeEnd * cells < border) {
                const quint64 before = quint64(border - wholeEnd * cells);
                addPixel(sums, row + x * 4, before * weight);
                addPixel(sums + 4, row + x * 4, (quint64(cells) - before) * weight);
                ++x;
            }
        }
    }

    void addPixel(quint64* sums, const uchar* p, quint64 weight) const {
        const quint64 a = m_alpha ? p[3] : 1;
        sums[0] += p[0] * a * weight;
        sums[1] += p[1] * a * weight;
        sums[2] += p[2] * a * weight;
        sums[3] += a * weight;
    }

    void flush() {
        const quint64 area = quint64(m_sourceWidth) * quint64(m_sourceHeight);
        uchar* out = m_target->scanLine(m_cellRow);
        for (size_t cell = 0; cell < size_t(m_cells); ++cell, out += 4) {
            const quint64* sums = m_sums.data() + cell * 4;
            const quint64 weight = sums[3];
            for (int channel = 0; channel < 3; ++channel)
                out[channel] = weight == 0 ? 0 : uchar((sums[channel] + weight / 2) / weight);
            out[3] = m_alpha ? uchar((sums[3] + area / 2) / area) : 0xff;
        }
        ++m_cellRow;
    }

    QImage* m_target = nullptr;
    bool m_alpha = false;
    qint64 m_sourceWidth = 0;
    qint64 m_sourceHeight = 0;
    qint64 m_cells = 0;
    qint64 m_targetHeight = 0;
    std::vector<quint64> m_rowSums;
    std::vector<quint64> m_sums;
    std::vector<quint64> m_nextSums;
    qint64 m_row = 0;
    int m_cellRow = 0;
};

// What a read keeps: everything with a destructor lives here, outside the frames png_error()
// jumps across.
struct Work {
    QSize target;
    QImage image;
    QColorSpace space;
    std::vector<uchar> row;
    std::vector<uchar> grid;
    RowShrinker shrinker;
};

// The pixel steps of what the first passes of Adam7 hold together: after the first pass every
// eighth pixel each way, after the seventh all of them.
constexpr int kPassColumnStep[7] = {8, 4, 4, 2, 2, 1, 1};
constexpr int kPassRowStep[7] = {8, 8, 4, 4, 2, 2, 1};

void askStop(png_structp png) {
    const auto* input = static_cast<const Input*>(png_get_io_ptr(png));
    if (input->stop != nullptr && (*input->stop)())
        png_error(png, "stopped");
}

// Row by row into the image: libpng's own buffers stay a row or two wide.
void readWhole(png_structp png, png_uint_32 height, int passes, Work& work) {
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            askStop(png);
            png_read_row(png, work.image.scanLine(int(y)), nullptr);
        }
}

void readShrinking(png_structp png, png_uint_32 width, png_uint_32 height, bool alpha, Work& work) {
    work.row.resize(size_t(width) * 4);
    work.shrinker.start(int(width), int(height), &work.image, alpha);
    for (png_uint_32 y = 0; y < height; ++y) {
        askStop(png);
        png_read_row(png, work.row.data(), nullptr);
        work.shrinker.add(work.row.data());
    }
}

// Without libpng's interlace handling each pass comes as a small picture of its own. Only the
// first passes that together hold at least the target's pixels each way are read, into a grid of
// those pixels, and the rest of the data is left unread.
void readPassesShrinking(png_structp png, png_uint_32 width, png_uint_32 height, bool alpha, Work& work) {
    int needed = 1;
    const auto gridSide = [](png_uint_32 side, int step) { return (qint64(side) + step - 1) / step; };
    while (needed < 7 && (gridSide(width, kPassColumnStep[needed - 1]) < work.target.width() ||
                          gridSide(height, kPassRowStep[needed - 1]) < work.target.height()))
        ++needed;
    const int columnStep = kPassColumnStep[needed - 1], rowStep = kPassRowStep[needed - 1];
    const qint64 gridWidth = gridSide(width, columnStep), gridHeight = gridSide(height, rowStep);
    // libpng copies a row of the picture's full width, whatever the pass.
    work.row.resize(size_t(width) * 4);
    work.grid.resize(size_t(gridWidth * gridHeight) * 4);
    for (int pass = 0; pass < needed; ++pass) {
        const png_uint_32 columns = PNG_PASS_COLS(width, pass), rows = PNG_PASS_ROWS(height, pass);
        // libpng skips an empty pass of a picture narrower or shorter than eight pixels.
        if (columns == 0 || rows == 0)
            continue;
        for (png_uint_32 row = 0; row < rows; ++row) {
            askStop(png);
            png_read_row(png, work.row.data(), nullptr);
            const qint64 gridRow = qint64(PNG_ROW_FROM_PASS_ROW(row, pass)) / rowStep;
            uchar* into = work.grid.data() + size_t(gridRow * gridWidth) * 4;
            for (png_uint_32 column = 0; column < columns; ++column)
                std::memcpy(into + size_t(PNG_COL_FROM_PASS_COL(column, pass) / png_uint_32(columnStep)) * 4,
                            work.row.data() + size_t(column) * 4, 4);
        }
    }
    work.shrinker.start(int(gridWidth), int(gridHeight), &work.image, alpha);
    for (qint64 y = 0; y < gridHeight; ++y)
        work.shrinker.add(work.grid.data() + size_t(y * gridWidth) * 4);
}

// Reads into `work.image`, made here once the header is known; false for damaged data.
bool readInto(png_structp png, png_infop info, Work* work) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    // The pixel cap was checked on the header; libpng's million-pixel side limit only stood in for it.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    // A chunk past libpng's memory bound is only warned about, and then read whole: what the
    // picture does not need is never kept, and the rest bounded.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kColourChunks, kColourChunkCount);
    png_set_chunk_malloc_max(png, kMaxProfileBytes);
    // The chunks' CRCs still guard the data; the stream's own checksum costs a tenth of the time.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!alpha)
        png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    work->space = colourSpace(png, info);
    const bool shrinking = work->target.isValid() && work->target != QSize(int(width), int(height));
    const bool byPass = shrinking && interlace != PNG_INTERLACE_NONE;
    const int passes = byPass ? 1 : png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4 || width > INT_MAX || height > INT_MAX)
        return false;
    if (shrinking && (work->target.width() > int(width) || work->target.height() > int(height)))
        return false;
    const QSize size = shrinking ? work->target : QSize(int(width), int(height));
    work->image = QImage(size, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    if (work->image.isNull())
        return false;
    work->image.setColorSpace(work->space);
    if (byPass)
        readPassesShrinking(png, width, height, alpha, *work);
    else if (shrinking)
        readShrinking(png, width, height, alpha, *work);
    else
        readWhole(png, height, passes, *work);
    return true;
}

QImage decodeFrom(Input& input, QSize target) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return {};
    }
    png_set_read_fn(png, &input, readInput);
    Work work;
    work.target = target;
    const bool ok = readInto(png, info, &work);
    png_destroy_read_struct(&png, &info, nullptr);
    return ok ? std::move(work.image) : QImage();
}

} // namespace

std::optional<QSize> PngDecoder::storedSize(const QByteArray& head) {
    if (!head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return std::nullopt;
    if (head.size() < kHeaderBytes || head.mid(12, 4) != "IHDR")
        return QSize();
    const quint32 width = bigEndian32(head, 16), height = bigEndian32(head, 20);
    if (width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return QSize();
    return QSize(int(width), int(height));
}

qint64 PngDecoder::storedDataBytes(const QByteArray& head) {
    const auto size = storedSize(head);
    if (!size || !size->isValid() || head.size() < kHeaderBytes + 2)
        return 0;
    const int depth = uchar(head.at(kHeaderBytes)), colour = uchar(head.at(kHeaderBytes + 1));
    int channels = 0;
    switch (colour) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        channels = 1;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        channels = 2;
        break;
    case PNG_COLOR_TYPE_RGB:
        channels = 3;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        channels = 4;
        break;
    default:
        return 0;
    }
    return (qint64(size->width()) * channels * depth + 7) / 8 * size->height();
}

bool PngDecoder::tooCostly(qint64 dataBytes, qint64 fileBytes) {
    return dataBytes > kMaxDataBytes && dataBytes / kMaxInflationRatio > fileBytes;
}

QImage PngDecoder::decode(const QString& path, const std::function<bool()>& stop) {
    return decodeScaled(path, QSize(), stop);
}

QImage PngDecoder::decode(const QByteArray& data, const std::function<bool()>& stop) {
    return decodeScaled(data, QSize(), stop);
}

QImage PngDecoder::decodeScaled(const QString& path, QSize target, const std::function<bool()>& stop) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    Input input;
    input.stop = stop ? &stop : nullptr;
    input.fd = fd.get();
    return decodeFrom(input, target);
}

QImage PngDecoder::decodeScaled(const QByteArray& data, QSize target, const std::function<bool()>& stop) {
    Input input;
    input.stop = stop ? &stop : nullptr;
    input.data = data.constData();
    input.size = size_t(data.size());
    return decodeFrom(input, target);
}

} // namespace vennimo
