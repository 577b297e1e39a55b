#include "platform/ApplicationLauncher.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString entry(const QString& folder, const QString& name, const QString& body) {
    const QString path = folder + "/" + name;
    writeFile(path, body.toUtf8());
    return path;
}

} // namespace

TEST(ApplicationLauncher, SplitsExecLinesAndExpandsFieldCodesForOneOrAllFiles) {
    EXPECT_EQ(*ApplicationLauncher::splitExec(R"(viewer --flag "two words" %F)"),
              (QStringList{"viewer", "--flag", "two words", "%F"}));
    EXPECT_EQ(*ApplicationLauncher::splitExec(R"("/opt/my app/run" "say \"hi\"" "a\sb")"),
              (QStringList{"/opt/my app/run", "say \"hi\"", "a b"}));
    EXPECT_FALSE(ApplicationLauncher::splitExec(R"(viewer "open)").ok()) << "an unclosed quote";
    EXPECT_FALSE(ApplicationLauncher::splitExec("   ").ok());

    const QString folder = makeFolder("applications");
    const QStringList files{"/p/a 1.jpg", "/p/b.jpg", "/p/c.jpg"};
    const QString list = entry(folder, "list.desktop",
                               "[Desktop Entry]\nType=Application\nName=Viewer\nName[zh_CN]=看图\n"
                               "Exec=viewer --new %F --title=%c\n");
    EXPECT_EQ(
        *ApplicationLauncher::commandLines(list, files),
        (QList<QStringList>{{"viewer", "--new", "/p/a 1.jpg", "/p/b.jpg", "/p/c.jpg", "--title=看图"}}));
    EXPECT_EQ(ApplicationLauncher::displayName(list), "看图");
    const QString one = entry(folder, "one.desktop", "[Desktop Entry]\nExec=single %u\n");
    EXPECT_EQ(*ApplicationLauncher::commandLines(one, files),
              (QList<QStringList>{{"single", QUrl::fromLocalFile(files[0]).toString()},
                                  {"single", QUrl::fromLocalFile(files[1]).toString()},
                                  {"single", QUrl::fromLocalFile(files[2]).toString()}}))
        << "an entry that takes one file starts once per file, in order";
    EXPECT_EQ(ApplicationLauncher::displayName(one), "one");
    const QString link = entry(folder, "link.desktop", "[Desktop Entry]\nType=Link\nURL=https://x\n");
    EXPECT_FALSE(ApplicationLauncher::commandLines(link, files).ok());
    EXPECT_EQ(*ApplicationLauncher::commandLines("/usr/bin/viewer", files),
              (QList<QStringList>{{"/usr/bin/viewer", "/p/a 1.jpg", "/p/b.jpg", "/p/c.jpg"}}));
}

TEST(ApplicationLauncher, StartsTheEntryOnceWithEveryFileAndNoShellAndReportsAMissingProgram) {
    const QString folder = makeFolder("launch");
    const QString out = folder + "/arguments.txt";
    const QString recorder = folder + "/recorder";
    writeFile(
        recorder,
        QString("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.part' && mv '%1.part' '%1'\n").arg(out).toUtf8());
    QFile::setPermissions(recorder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString app =
        entry(folder, "recorder.desktop",
              QString("[Desktop Entry]\nType=Application\nName=Recorder\nExec=\"%1\" %F\n").arg(recorder));
    const QStringList files{folder + "/first photo.jpg", folder + "/$(touch pwned).jpg",
                            folder + "/third;.jpg"};
    ASSERT_TRUE(ApplicationLauncher::launch(app, files).ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(out); }, 10000));
    EXPECT_EQ(QString::fromUtf8(readFile(out)).split('\n', Qt::SkipEmptyParts), files)
        << "one start, every file as one argument, in order";
    EXPECT_FALSE(QFile::exists(folder + "/pwned")) << "nothing went through a shell";

    const QString missing = entry(folder, "missing.desktop", "[Desktop Entry]\nExec=/no/such/program %F\n");
    const Status failed = ApplicationLauncher::launch(missing, files);
    ASSERT_FALSE(failed.ok());
    EXPECT_FALSE(failed.error().message.isEmpty());
}
