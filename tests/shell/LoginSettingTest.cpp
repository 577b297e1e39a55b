#include "shell/LoginSetting.h"

#include "platform/AutostartEntry.h"

#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

const QString kProgram = QStringLiteral("/opt/Vennimo Gallery/bin/vennimo-gallery");

QByteArray unit(const QString& program) {
    return "[Unit]\nDescription=Vennimo Gallery\n\n[Service]\nExecStart=-\"" + program.toUtf8() +
           "\" --background\n\n[Install]\nWantedBy=default.target\n";
}

// The arguments of an Exec value as the desktop entry rules read them: string escapes first, then
// double-quoted arguments with their backslash escapes, then %% as one %.
QStringList execArguments(QString value) {
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            unescaped += value[i];
            continue;
        }
        const QChar next = value[++i];
        unescaped += next == u'n'   ? QChar(u'\n')
                     : next == u's' ? QChar(u' ')
                     : next == u't' ? QChar(u'\t')
                                    : next;
    }
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted && c == u'\\' && i + 1 < unescaped.size()) {
            current += unescaped[++i];
        } else if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c == u' ' && !quoted) {
            if (any || !current.isEmpty())
                arguments << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        arguments << current;
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return arguments;
}

} // namespace

TEST(LoginSettingTest, TheEntryStartsAnyInstallPathAndRefusesOneThatIsNotText) {
    const QString marker = makeFolder(QStringLiteral("launched")) + QStringLiteral("/marker");
    const QString folder = makeFolder(QStringLiteral("install/100% sure \"q\" 'n' $x `b` back\\slash"));
    const QString program = folder + QStringLiteral("/vennimo-gallery");
    writeFile(program, "#!/bin/sh\necho started > \"" + QFile::encodeName(marker) + "\"\n");
    ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const AutostartEntry entry(program);
    ASSERT_TRUE(entry.writeEntry().ok());
    QString exec;
    for (const QString& line : QString::fromUtf8(readFile(entry.entryPath())).split(u'\n'))
        if (line.startsWith(QStringLiteral("Exec=")))
            exec = line.mid(5);
    const QStringList arguments = execArguments(exec);
    ASSERT_FALSE(arguments.isEmpty()) << exec.toStdString();
    EXPECT_EQ(arguments.last(), program) << exec.toStdString();
    // GLib's launcher is what most desktops start autostart entries with.
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (!gio.isEmpty()) {
        QProcess launch;
        launch.start(gio, {QStringLiteral("launch"), entry.entryPath()});
        ASSERT_TRUE(launch.waitForFinished(10000));
        EXPECT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
        EXPECT_TRUE(test::waitUntil([&] { return QFile::exists(marker); })) << exec.toStdString();
    }

    // Bytes that are no UTF-8 text cannot be written into an entry: refused, and said so.
    QFile::remove(entry.entryPath());
    LoginSetting setting(QFile::decodeName("/opt/\xff\xfe/vennimo-gallery"));
    setting.setEnabled(true);
    EXPECT_FALSE(setting.enabled());
    ASSERT_TRUE(setting.message().has_value());
    EXPECT_TRUE(setting.message()->contains(QStringLiteral("UTF-8"))) << setting.message()->toStdString();
    EXPECT_FALSE(QFileInfo::exists(entry.entryPath()));
}

TEST(LoginSettingTest, TheEntryNamesTheIconBesideTheProgram) {
    const QString folder = makeFolder(QStringLiteral("install/back\\slash"));
    const AutostartEntry entry(folder + QStringLiteral("/vennimo-gallery"));
    const auto iconLines = [&] {
        QStringList lines;
        for (const QString& line : QString::fromUtf8(readFile(entry.entryPath())).split(u'\n'))
            if (line.startsWith(QStringLiteral("Icon=")))
                lines.append(line);
        return lines;
    };
    ASSERT_TRUE(entry.writeEntry().ok());
    EXPECT_EQ(iconLines(), QStringList{}) << "no icon file, no icon line";

    writeFile(folder + QStringLiteral("/vennimo-gallery.png"), "png");
    ASSERT_TRUE(entry.writeEntry().ok());
    QString escaped = folder;
    escaped.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    EXPECT_EQ(iconLines(),
              QStringList{QStringLiteral("Icon=") + escaped + QStringLiteral("/vennimo-gallery.png")});
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/vennimo-gallery.png")).isAbsolute());
}

TEST(LoginSettingTest, TogglingWritesAndRemovesTheAutostartEntry) {
    LoginSetting setting(kProgram);
    const QString entry = setting.entry().entryPath();
    EXPECT_EQ(entry,
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/vennimo-gallery.desktop"));
    setting.refresh();
    EXPECT_FALSE(setting.enabled());

    setting.setEnabled(true);
    EXPECT_TRUE(setting.enabled());
    EXPECT_FALSE(setting.message().has_value());
    const QByteArray text = readFile(entry);
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nExec=\"/opt/Vennimo Gallery/bin/vennimo-gallery\"\n")) << text.toStdString();

    setting.setEnabled(false);
    EXPECT_FALSE(setting.enabled());
    EXPECT_FALSE(QFile::exists(entry));

    // An entry the desktop switched off counts as off; turning on writes it afresh.
    writeFile(entry, "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n");
    setting.refresh();
    EXPECT_FALSE(setting.enabled());
    setting.setEnabled(true);
    EXPECT_TRUE(setting.enabled());

    // A failure is reported with the prefix and the state stays what it really is.
    QFile::remove(entry);
    QDir().mkpath(entry);
    setting.setEnabled(true);
    EXPECT_FALSE(setting.enabled());
    ASSERT_TRUE(setting.message().has_value());
    EXPECT_TRUE(setting.message()->startsWith(QString::fromUtf8(LoginSetting::kFailurePrefix)));
    EXPECT_EQ(AutostartEntry::execLine(QStringLiteral("/a b/$x\\\"y")),
              QStringLiteral("\"/a b/\\\\$x\\\\\\\\\\\\\"y\""));
    // The launcher reads %% as one %, and the value stays on its line.
    EXPECT_EQ(AutostartEntry::execLine(QStringLiteral("/opt/100%u/a\nHidden=true")),
              QStringLiteral("/bin/sh -c \"exec \\\\\"\\\\$0\\\\\"\" \"/opt/100%%u/a\\nHidden=true\""));
}

TEST(LoginSettingTest, LegacyUnitOfThisProgramCountsAsOnAndIsRemovedWhenTurnedOff) {
    struct Case {
        const char* name;
        QString unitProgram;
        bool owned;
    };
    const QList<Case> cases{
        {"this program", kProgram, true},
        {"another copy", QStringLiteral("/home/someone/old/vennimo-gallery"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoginSetting setting(kProgram);
        const QString unitPath = setting.entry().legacyUnitPath();
        EXPECT_TRUE(unitPath.endsWith(QStringLiteral("/systemd/user/vennimo-gallery.service")));
        writeFile(unitPath, unit(c.unitProgram));
        QStringList ran;
        setting.setRunTool([&](const QString& program, const QStringList& arguments) {
            ran << QFileInfo(program).fileName() + u' ' + arguments.join(u' ');
            return true;
        });
        setting.refresh();
        EXPECT_EQ(setting.enabled(), c.owned);

        setting.setEnabled(true);
        EXPECT_TRUE(setting.enabled());
        // Turning on over a unit of ours writes no entry beside it.
        EXPECT_EQ(QFile::exists(setting.entry().entryPath()), !c.owned);

        setting.setEnabled(false);
        EXPECT_FALSE(setting.enabled());
        EXPECT_FALSE(setting.message().has_value());
        EXPECT_FALSE(QFile::exists(setting.entry().entryPath()));
        EXPECT_EQ(QFile::exists(unitPath), !c.owned);
        if (c.owned && !QStandardPaths::findExecutable(QStringLiteral("systemctl")).isEmpty())
            EXPECT_EQ(ran, QStringList{QStringLiteral("systemctl --user disable vennimo-gallery.service")});
        else
            EXPECT_TRUE(ran.isEmpty());
        QFile::remove(unitPath);
    }
}
