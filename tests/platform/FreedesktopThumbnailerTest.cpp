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

TEST(FreedesktopThumbnailer, ParsesEntriesAndExpandsExecLines) {
    auto entry = FreedesktopThumbnailer::parseEntry("# comment\n[Other]\nExec=wrong\n[Thumbnailer Entry]\n"
                                                    "TryExec=tool\nExec=tool -s %s %u %i %o 100%%\n"
                                                    "MimeType=image/x-one;image/x-two;\n");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->tryExec, "tool");
    EXPECT_EQ(entry->mimeTypes, (QStringList{"image/x-one", "image/x-two"}));
    EXPECT_EQ(FreedesktopThumbnailer::expandExec(entry->exec, "/a b/c.xcf", "/out/t.png", 720),
              (QStringList{"tool", "-s", "720", "file:///a%20b/c.xcf", "/a b/c.xcf", "/out/t.png", "100%"}));
    EXPECT_FALSE(FreedesktopThumbnailer::parseEntry("[Thumbnailer Entry]\nExec=tool\n").has_value())
        << "an entry without MIME types is of no use";
}

TEST(FreedesktopThumbnailer, UsesFreshCacheThenInstalledThumbnailerWithinItsTime) {
    const QString folder = makeFolder("fd");
    const QString file = folder + "/picture.xcf";
    writeFile(file, "gimp xcf file\0 not decodable here");
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_FALSE(FreedesktopThumbnailer::thumbnail(file, 256, 500ms).ok()) << "no cache and no thumbnailer";

    // The cache: fresh only with the file's modification time.
    const QString uri = QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded());
    const QString cached = qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails/large/" +
                           QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex() + ".png";
    QImage thumb = makeImage(64, 32);
    thumb.setText("Thumb::URI", uri);
    thumb.setText("Thumb::MTime", QString::number(st.st_mtim.tv_sec - 10));
    saveImage(thumb, cached);
    EXPECT_FALSE(FreedesktopThumbnailer::cachedThumbnail(file).ok())
        << "a stale cached thumbnail is not used";
    thumb.setText("Thumb::MTime", QString::number(st.st_mtim.tv_sec));
    saveImage(thumb, cached);
    auto fromCache = FreedesktopThumbnailer::thumbnail(file, 256, 500ms);
    ASSERT_TRUE(fromCache.ok());
    EXPECT_EQ(fromCache->size(), QSize(64, 32));
    QFile::remove(cached);

    // An installed thumbnailer for the type: a script that copies a prepared PNG.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    saveImage(makeImage(40, 20), folder + "/prepared.png");
    writeFile(folder + "/thumb.sh", "#!/bin/sh\ncp \"" + (folder + "/prepared.png").toUtf8() + "\" \"$2\"\n");
    writeFile(folder + "/slow.sh",
              "#!/bin/sh\nsleep 5\ncp \"" + (folder + "/prepared.png").toUtf8() + "\" \"$2\"\n");
    chmod(QFile::encodeName(folder + "/thumb.sh").constData(), 0755);
    chmod(QFile::encodeName(folder + "/slow.sh").constData(), 0755);
    writeFile(dataHome + "/thumbnailers/test.thumbnailer",
              "[Thumbnailer Entry]\nExec=" + (folder + "/thumb.sh").toUtf8() +
                  " %i %o %s\nMimeType=image/x-xcf;\n");
    auto made = FreedesktopThumbnailer::thumbnail(file, 256, 2000ms);
    ASSERT_TRUE(made.ok()) << made.error().message.toStdString();
    EXPECT_EQ(made->size(), QSize(40, 20));

    writeFile(dataHome + "/thumbnailers/test.thumbnailer",
              "[Thumbnailer Entry]\nExec=" + (folder + "/slow.sh").toUtf8() +
                  " %i %o %s\nMimeType=image/x-xcf;\n");
    QElapsedTimer timer;
    timer.start();
    auto late = FreedesktopThumbnailer::thumbnail(file, 256, 200ms);
    EXPECT_FALSE(late.ok()) << "a thumbnailer that overruns its time gives nothing";
    EXPECT_LT(timer.elapsed(), 1500) << "and is killed rather than waited for";
}
