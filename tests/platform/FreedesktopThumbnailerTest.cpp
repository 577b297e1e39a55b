#include "platform/FreedesktopThumbnailer.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vennimo;
using namespace std::chrono_literals;
using vennimo::test::makeFolder;
using vennimo::test::makeImage;
using vennimo::test::saveImage;
using vennimo::test::writeFile;

TEST(FreedesktopThumbnailer, ExpandsExecLinesAndUsesAFreshCacheThenTheThumbnailerWithinItsTime) {
    const auto entry =
        FreedesktopThumbnailer::parseEntry("# comment\n[Other]\nExec=wrong\n[Thumbnailer Entry]\n"
                                           "Exec=tool -s %s %u %i %o 100%%\nMimeType=image/x-a;image/x-b;\n");
    ASSERT_EQ(entry.value_or(FreedesktopThumbnailer::Entry{}).mimeTypes,
              (QStringList{"image/x-a", "image/x-b"}));
    EXPECT_EQ(FreedesktopThumbnailer::expandExec(entry->exec, "/a b/c.xcf", "/out/t.png", 720),
              (QStringList{"tool", "-s", "720", "file:///a%20b/c.xcf", "/a b/c.xcf", "/out/t.png", "100%"}));
    EXPECT_FALSE(FreedesktopThumbnailer::parseEntry("[Thumbnailer Entry]\nExec=tool\n")) << "no MIME types";

    const QString folder = makeFolder("fd");
    const QString file = folder + "/picture.xcf";
    writeFile(file, "gimp xcf file\0 not decodable here");
    EXPECT_FALSE(FreedesktopThumbnailer::thumbnail(file, 256, 500ms).ok()) << "no cache and no thumbnailer";
    // The cache: fresh only with the file's modification time.
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
    const QByteArray uri = QUrl::fromLocalFile(file).toEncoded();
    const QString cached = qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails/large/" +
                           QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
    QImage thumb = makeImage(64, 32);
    thumb.setText("Thumb::URI", uri);
    thumb.setText("Thumb::MTime", QString::number(st.st_mtim.tv_sec - 10));
    saveImage(thumb, cached);
    EXPECT_FALSE(FreedesktopThumbnailer::cachedThumbnail(file).ok())
        << "a stale cached thumbnail is not used";
    thumb.setText("Thumb::MTime", QString::number(st.st_mtim.tv_sec));
    saveImage(thumb, cached);
    EXPECT_EQ(FreedesktopThumbnailer::thumbnail(file, 256, 500ms).value().size(), QSize(64, 32));
    QFile::remove(cached);

    // An installed thumbnailer for the type: a script that copies a prepared PNG, once quickly and
    // once too slowly, when it must be killed rather than waited for.
    saveImage(makeImage(40, 20), folder + "/prepared.png");
    for (const QByteArray& sleep : {QByteArray(), QByteArray("sleep 5\n")}) {
        writeFile(folder + "/thumb.sh",
                  "#!/bin/sh\n" + sleep + "cp \"" + (folder + "/prepared.png").toUtf8() + "\" \"$2\"\n");
        chmod(QFile::encodeName(folder + "/thumb.sh").constData(), 0755);
        writeFile(qEnvironmentVariable("XDG_DATA_HOME") + "/thumbnailers/test.thumbnailer",
                  "[Thumbnailer Entry]\nExec=" + (folder + "/thumb.sh").toUtf8() +
                      " %i %o %s\nMimeType=image/x-xcf;\n");
        QElapsedTimer timer;
        timer.start();
        const auto made = FreedesktopThumbnailer::thumbnail(file, 256, sleep.isEmpty() ? 2000ms : 200ms);
        EXPECT_EQ(made.ok() ? made->size() : QSize(), sleep.isEmpty() ? QSize(40, 20) : QSize());
        EXPECT_LT(timer.elapsed(), 1900);
    }

    // A caller that gives up (a quit) ends a thumbnailer that would run for a minute.
    writeFile(folder + "/thumb.sh",
              "#!/bin/sh\nsleep 60\ncp \"" + (folder + "/prepared.png").toUtf8() + "\" \"$2\"\n");
    int asked = 0;
    const auto givenUp = FreedesktopThumbnailer::thumbnail(file, 256, 120s, [&asked] { return ++asked > 2; });
    ASSERT_FALSE(givenUp.ok());
    EXPECT_EQ(givenUp.error().sysErrno, ECANCELED) << "ended by the caller, not by its time";
    EXPECT_EQ(asked, 3);
}
