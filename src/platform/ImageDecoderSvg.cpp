#include "platform/BoundedChildProcess.h"
#include "platform/ImageDecoderShared.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vennimo::image_decoding {

namespace {

// Qt's SVG plugin reads a whole document, then draws it in one call: a few megabytes of elements
// can cost minutes. Its work is bounded as a dropped PDF's is, in a child process; what goes past a
// bound is refused as damaged. A second of processor time draws any SVG a person made at the sizes
// the application asks for.
constexpr auto kSvgCpuTime = std::chrono::seconds(1);
// A child that waits rather than works (a lock it inherited held) is given up on.
constexpr auto kSvgDeadline = std::chrono::seconds(10);
// The helper's own memory with its document's; the picture's comes on top.
constexpr qint64 kSvgDocumentBytes = qint64(384) << 20;

// Said by a child whose helper would not start, with the reason's errno as its size's width.
constexpr qint32 kHelperMissingCode = -1;

std::mutex& programLock() {
    static std::mutex lock;
    return lock;
}

QByteArray& programSlot() {
    static QByteArray program;
    return program;
}

std::atomic<bool> g_missingSaid{false};

// The helper beside the running program (the application's folder), else the one built with it.
QByteArray drawProgram() {
    const std::lock_guard lock(programLock());
    QByteArray& program = programSlot();
    if (program.isEmpty()) {
        const QString beside =
            QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath() +
            QStringLiteral("/vennimo-svg-draw");
        program =
            QFileInfo(beside).isExecutable() ? QFile::encodeName(beside) : QByteArray(VENNIMO_SVG_DRAW_PATH);
    }
    return program;
}

// Every SVG would otherwise become a blank print and every SVG drop a refusal with no word why.
void sayHelperMissing(const QByteArray& program, int error) {
    if (g_missingSaid.exchange(true))
        return;
    std::fprintf(stderr, "vennimo-gallery: SVG pictures cannot be drawn: the helper %s cannot be run (%s)\n",
                 program.constData(), std::strerror(error));
}

// In the forked child: bytes go into a memory file the helper reads by its name, the helper's
// memory is bounded afresh (the copy's own bound counted the parent's memory), and what Qt's plugin
// says about a document is kept from the standard error. Returns only when the helper cannot run.
void execDrawing(const QByteArray& program, const Source& source, const QByteArray& longest, bool draw,
                 qint64 memoryBytes) {
    QByteArray path = QFile::encodeName(source.path);
    if (!source.isFile()) {
        const int input = ::memfd_create("svg", MFD_CLOEXEC);
        if (input < 0 ||
            !BoundedChildProcess::writeAll(input, source.data.constData(), size_t(source.data.size())))
            return;
        // Open in the helper: the name stays valid for it.
        if (::fcntl(input, F_SETFD, 0) != 0)
            return;
        path = "/proc/self/fd/" + QByteArray::number(input);
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0)
        ::dup2(null, STDERR_FILENO);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's shadow memory counts as data, so that build's helper could not even
    // start under the bound: it runs with its time bounds only.
    static_cast<void>(memoryBytes);
#else
    const rlimit memory{rlim_t(memoryBytes), rlim_t(memoryBytes)};
    ::setrlimit(RLIMIT_DATA, &memory);
#endif
    char* arguments[] = {const_cast<char*>(program.constData()), path.data(),
                         const_cast<char*>(longest.constData()), const_cast<char*>(draw ? nullptr : "size"),
                         nullptr};
    ::execv(program.constData(), arguments);
    const int error = errno;
    BoundedChildAnswer missing;
    missing.code = kHelperMissingCode;
    missing.size = QSize(error, 0);
    BoundedChildProcess::sendAnswer(missing);
}

Result<BoundedChildAnswer> inChild(const Source& source, int maxPixelSize, bool draw,
                                   const std::function<bool()>& stop) {
    const qint64 longest = maxPixelSize > 0 ? maxPixelSize : ImageDecoder::kMaxPixels;
    const qint64 pixels = maxPixelSize > 0
                              ? std::min(qint64(maxPixelSize) * maxPixelSize, ImageDecoder::kMaxPixels)
                              : ImageDecoder::kMaxPixels;
    // The picture may be held twice while it is converted and sent.
    const qint64 memoryBytes = kSvgDocumentBytes + (draw ? 2 * pixels * 4 : 0);
    const BoundedChildLimits limits{
        .deadline = kSvgDeadline, .cpuTime = kSvgCpuTime, .memoryBytes = memoryBytes};
    const QByteArray program = drawProgram();
    const QByteArray side = QByteArray::number(maxPixelSize);
    auto answer = BoundedChildProcess::run(
        [&](BoundedChildAnswer&) {
            execDrawing(program, source, side, draw, memoryBytes);
            ::_exit(127);
        },
        int(std::min<qint64>(longest, INT_MAX)), limits, stop);
    if (answer && answer->code == kHelperMissingCode) {
        sayHelperMissing(program, answer->size.width());
        answer->code = kImageUnreadableCode;
    }
    return answer;
}

Error fromChild(qint32 code) {
    return code == kImageTooLargeCode ? tooLarge() : unreadable();
}

bool wasStopped(const Error& error) {
    return error.domain == kPosixErrorDomain && error.sysErrno == ECANCELED;
}

} // namespace

bool isSvgFormat(const QByteArray& format) {
    return format == "svg" || format == "svgz";
}

Result<ImageHeader> svgHeader(const Source& source, const std::function<bool()>& stop) {
    auto answer = inChild(source, 0, false, stop);
    if (!answer)
        return wasStopped(answer.error()) ? Error::fromErrno(ECANCELED, source.path) : unreadable();
    if (answer->code != 0)
        return fromChild(answer->code);
    ImageHeader header;
    header.size = answer->size;
    header.format = "svg";
    return header;
}

Result<QImage> svgDecode(const Source& source, int maxPixelSize, const std::function<bool()>& stop) {
    auto answer = inChild(source, maxPixelSize, true, stop);
    if (!answer)
        return wasStopped(answer.error()) ? Error::fromErrno(ECANCELED, source.path) : unreadable();
    if (answer->code != 0)
        return fromChild(answer->code);
    if (answer->image.isNull())
        return unreadable();
    return answer->image;
}

void setSvgProgramForTesting(const QByteArray& program) {
    const std::lock_guard lock(programLock());
    programSlot() = program;
    g_missingSaid = false;
}

} // namespace vennimo::image_decoding
