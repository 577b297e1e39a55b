#include "ApplicationRope.h"

#include "ApplicationSession.h"
#include "PhotoLikeImages.h"

#include "dragdrop/ExternalImageDrop.h"
#include "platform/X11Connection.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImageWriter>
#include <QJsonDocument>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>

#include <sched.h>
#include <sys/mount.h>

namespace vennimo::test {

QString applicationShots() {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR) + "/app";
    QDir().mkpath(dir);
    return dir;
}

QString makeWatchedFolders() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QDir().mkpath(desktop);
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    return desktop;
}

std::optional<QString> userFilesParent() {
    // The application gets the test's environment, so it draws the same line as this process.
    const QString build = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    if (!build.isEmpty() && !ExternalImageDrop::isInTemporaryFolder(build + "/user-files"))
        return build;
    // The application judges the path it is given, links resolved, not the file system: a bind
    // mount shows files of the test home outside the temporary folders. The namespace is private
    // to this thread, which starts the application, so the system's mounts never see it.
    const QByteArray files = QFile::encodeName(makeFolder("user-files"));
    bool unshared = false;
    for (const QString& at : {QStringLiteral("/srv"), QStringLiteral("/media")}) {
        const QDir folder(at);
        if (!folder.exists() ||
            !folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System) ||
            ExternalImageDrop::isInTemporaryFolder(at + "/user-files"))
            continue;
        if (!unshared &&
            (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0))
            return std::nullopt;
        unshared = true;
        if (::mount(files.constData(), QFile::encodeName(at).constData(), nullptr, MS_BIND, nullptr) == 0)
            return at;
    }
    return std::nullopt;
}

bool startApplication(QProcess& app, bool keepErrors) {
    app.setProcessChannelMode(keepErrors ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    // VENNIMO_TEST_APP runs another build of the application, to compare two.
    app.start(qEnvironmentVariable("VENNIMO_TEST_APP", QStringLiteral(VENNIMO_APP_PATH)));
    if (!app.waitForStarted())
        return false;
    // The first scan has passed once the library it saves says so. A library from an earlier run
    // already does, which leaves the old pause as the least wait.
    QTest::qWait(2500);
    (void)QTest::qWaitFor([] { return readJson(storage() + "/index.json").value("initialized").toBool(); },
                          60000);
    return true;
}

QStringList visibleWindowIds(qint64 pid) {
    // xdotool gives up the whole search when a window goes while it walks the tree (a panel that
    // just landed), and on a busy machine it may take seconds: a search that failed is made again,
    // so that a window that is there is not reported gone.
    for (int attempt = 1;; ++attempt) {
        QProcess search;
        search.start("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)});
        const bool finished = search.waitForFinished(30000);
        QStringList ids;
        for (const QString& id :
             QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            ids.append(id.trimmed());
        if ((finished && search.exitStatus() == QProcess::NormalExit && search.exitCode() == 0) ||
            attempt == 2)
            return ids;
    }
}

QList<QRect> applicationWindows(qint64 pid) {
    QList<QRect> frames;
    for (const QString& id : visibleWindowIds(pid)) {
        QProcess geometry;
        geometry.start("xdotool", {"getwindowgeometry", "--shell", id});
        geometry.waitForFinished(30000);
        QHash<QString, int> values;
        for (const QString& line : QString::fromUtf8(geometry.readAllStandardOutput()).split('\n')) {
            const QStringList pair = line.split('=');
            if (pair.size() == 2)
                values.insert(pair[0], pair[1].toInt());
        }
        // The tray icon that the tray host took in is not one of the application's windows here.
        if (values.value("WIDTH") <= kTrayIconSize && values.value("HEIGHT") <= kTrayIconSize)
            continue;
        if (values.contains("WIDTH"))
            frames.append(QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]));
    }
    return frames;
}

std::optional<QRect> applicationWindow(qint64 pid) {
    // The rope window is the widest one; a menu that is open beside it is narrower.
    std::optional<QRect> widest;
    for (const QRect& frame : applicationWindows(pid))
        if (!widest || frame.width() > widest->width())
            widest = frame;
    return widest;
}

bool xdotool(const QStringList& arguments, int settleMs) {
    const int status = QProcess::execute("xdotool", arguments);
    QTest::qWait(settleMs);
    return status == 0;
}

namespace {

// From the rope point under a peg into the peg itself.
constexpr double kIntoPeg = 8;

} // namespace

QString storage() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/VennimoGallery";
}

QJsonObject readJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject savedRopePosition() {
    return readJson(defaultsFile()).value("ClotheslineWindowPosition").toObject();
}

QMap<QString, double> placements() {
    QMap<QString, double> xs;
    const QJsonObject records =
        readJson(storage() + "/clothesline-positions.json").value("records").toObject();
    for (auto it = records.begin(); it != records.end(); ++it)
        xs.insert(it.key(), it.value().toObject().value("placement").toObject().value("x").toDouble());
    return xs;
}

QList<double> placementXs() {
    QList<double> xs = placements().values();
    std::sort(xs.begin(), xs.end());
    return xs;
}

int takenDownCount() {
    int count = 0;
    const QJsonObject records = readJson(storage() + "/clothesline.json").value("records").toObject();
    for (const QJsonValue& record : records)
        count += record.toObject().contains("usedAt") ? 1 : 0;
    return count;
}

ClotheslineRopeGeometry restingRope(const QRect& window) {
    ClotheslineRopeGeometry rope;
    rope.width = window.width() - 2 * kSideInset;
    rope.inset = kRopeInset;
    return rope;
}

int canvasTop(const QRect& window) {
    return kCanvasTop + (window.height() > kCollapsedHeight ? kToolbarRoom : 0);
}

QPoint onScreen(const QRect& window, QPointF canvasPoint) {
    return window.topLeft() +
           QPointF(canvasPoint.x() + kSideInset, canvasPoint.y() + canvasTop(window)).toPoint();
}

QPoint printPoint(const QRect& window, double x) {
    const ClotheslineRopeGeometry rope = restingRope(window);
    return onScreen(window, rope.pointAlong(rope.supportFraction(x)) + QPointF(0, kPegToPaper));
}

QPoint scaledPrintPoint(const QRect& window, double x, double scale) {
    const QRect logical(window.topLeft(), (QSizeF(window.size()) / scale).toSize());
    return window.topLeft() + QPointF(QPointF(printPoint(logical, x) - window.topLeft()) * scale).toPoint();
}

bool near(const QPoint& a, const QPoint& b, int tolerance) {
    return (a - b).manhattanLength() <= tolerance;
}

QPoint pegPoint(const QRect& window, double x, const QList<double>& loads) {
    ClotheslineRopeGeometry rope = restingRope(window);
    std::vector<double> fractions;
    for (double load : loads)
        fractions.push_back(rope.supportFraction(load));
    const auto sag = ClotheslinePhysics::equilibrium(fractions, rope.usableSpan() + 2 * rope.kEndOverhang);
    rope.displacement.assign(sag.begin(), sag.end());
    return onScreen(window, rope.pointAlong(rope.supportFraction(x)) + QPointF(0, kIntoPeg));
}

QString widestWindowId(qint64 pid) {
    QString best;
    int width = 0;
    for (const QString& id : visibleWindowIds(pid)) {
        QProcess geometry;
        geometry.start("xdotool", {"getwindowgeometry", "--shell", id});
        geometry.waitForFinished(30000);
        for (const QString& line : QString::fromUtf8(geometry.readAllStandardOutput()).split('\n'))
            if (line.startsWith("WIDTH=") && line.mid(6).toInt() > width) {
                width = line.mid(6).toInt();
                best = id;
            }
    }
    return best;
}

bool undoInRopeWindow(qint64 pid) {
    const QString id = widestWindowId(pid);
    if (id.isEmpty())
        return false;
    xdotool({"windowactivate", "--sync", id}, 200);
    xdotool({"key", "--clearmodifiers", "ctrl+z"}, 300);
    return true;
}

void pegGesture(QPoint from, QPoint to, const std::function<void()>& halfway,
                const std::function<void()>& finish) {
    ASSERT_TRUE(xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())}, 300));
    ASSERT_TRUE(xdotool({"mousedown", "1"}, 200));
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i) {
        const QPoint p = from + (to - from) * i / kSteps;
        ASSERT_TRUE(xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 70));
        if (i == kSteps && halfway) {
            QTest::qWait(300);
            halfway();
        }
    }
    QTest::qWait(200);
    if (finish)
        finish();
    else
        ASSERT_TRUE(xdotool({"mouseup", "1"}, 600));
}

QStringList letGoAndTakeAgain(QPoint from, QPoint through, QPoint to, const QString& pauseSeconds,
                              std::optional<QPoint> again) {
    QStringList gesture{
        "mousemove", QString::number(from.x()), QString::number(from.y()), "sleep", "0.3", "mousedown", "1"};
    const auto stroke = [&gesture](QPoint a, QPoint b) {
        for (int i = 1; i <= 8; ++i) {
            const QPoint p = a + (b - a) * i / 8;
            gesture << "sleep"
                    << "0.05"
                    << "mousemove" << QString::number(p.x()) << QString::number(p.y());
        }
    };
    stroke(from, through);
    gesture << "sleep"
            << "0.2"
            << "mouseup"
            << "1";
    if (again)
        gesture << "mousemove" << QString::number(again->x()) << QString::number(again->y());
    gesture << "sleep" << pauseSeconds << "mousedown"
            << "1";
    stroke(again.value_or(through), to);
    return gesture;
}

namespace {

std::pair<QColor, QColor> backdropColours(Backdrop::Tone tone) {
    switch (tone) {
    case Backdrop::Tone::Light:
        return {QColor(96, 130, 160), QColor(170, 160, 190)};
    case Backdrop::Tone::Dark:
        return {QColor(70, 110, 150), QColor(150, 140, 175)};
    case Backdrop::Tone::Plain:
        break;
    }
    return {QColor(0x6a, 0x86, 0xa4), QColor(0x6a, 0x86, 0xa4)};
}

} // namespace

Backdrop::Backdrop(Tone tone)
    : m_from(backdropColours(tone).first)
    , m_to(backdropColours(tone).second) {}

bool Backdrop::cover() {
    setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    show();
    if (QTest::qWaitForWindowExposed(this, 30000))
        return true;
    // How the X server and the window manager left it: never mapped, or mapped and not drawn.
    const QString id = QString::number(winId());
    ADD_FAILURE() << "the backdrop never showed:\n"
                  << runProgram("xwininfo", {"-id", id, "-stats"}).toStdString()
                  << runProgram("xprop", {"-id", id, "WM_STATE", "_NET_WM_STATE"}).toStdString();
    return false;
}

void Backdrop::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient g(0, 0, width(), height());
    g.setColorAt(0, m_from);
    g.setColorAt(1, m_to);
    p.fillRect(rect(), g);
}

bool paintRootPlain() {
    xcb_connection_t* c = X11Connection::get();
    if (!c)
        return false;
    const xcb_window_t root = X11Connection::root(c);
    const uint32_t blue = backdropColours(Backdrop::Tone::Plain).first.rgb() & 0xFFFFFF;
    xcb_change_window_attributes(c, root, XCB_CW_BACK_PIXEL, &blue);
    xcb_clear_area(c, 0, root, 0, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return true;
}

void Backdrop::mousePressEvent(QMouseEvent* event) {
    presses.append(event->globalPosition().toPoint());
}

std::optional<std::pair<int, int>> capsuleEnds(const QRect& window) {
    const QImage row = grabScreenArea(QRect(window.left(), window.top() + 8 + 5, window.width(), 1));
    int left = -1;
    int right = -1;
    int light = 0;
    for (int x = 0; x < row.width(); ++x) {
        if (qGray(row.pixel(x, 0)) > 225) {
            ++light;
            if (left < 0)
                left = x;
            right = x;
        }
    }
    if (light < 300)
        return std::nullopt;
    return std::pair{window.left() + left, window.left() + right};
}

bool hangDesktopPhotos(const QString& desktop, const QString& prefix, int count, int seed) {
    for (int i = 0; i < count; ++i) {
        const QString path = QString("%1/%2-%3.jpg").arg(desktop, prefix).arg(i + 1);
        const QImage photo = makePhotoLikeImage({1600, 1200}, seed + i);
        // A write that the machine refuses once (under heavy load it has happened) is tried again;
        // one that keeps failing says why.
        QString why;
        bool saved = false;
        for (int attempt = 0; attempt < 3 && !saved; ++attempt) {
            QImageWriter writer(path, "JPEG");
            writer.setQuality(88);
            saved = writer.write(photo);
            if (!saved) {
                why = writer.errorString();
                QTest::qWait(200);
            }
        }
        if (!saved) {
            ADD_FAILURE() << "could not save " << path.toStdString() << ": " << why.toStdString();
            return false;
        }
    }
    // Decoding and placing photos can take long beside a sanitizer build on a busy machine.
    if (!QTest::qWaitFor([count] { return placements().size() == count; }, 60000))
        return false;
    QTest::qWait(2500); // the rope settles under its prints
    return true;
}

} // namespace vennimo::test
