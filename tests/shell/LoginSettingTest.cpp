#include "shell/LoginSetting.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

} // namespace

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
              QStringLiteral("\"/opt/100%%u/a\\nHidden=true\""));
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
