#include "shell/QuickOpenStatus.h"

#include "shell/GalleryStatusItem.h"
#include "shell/StatusIconArtwork.h"

#include <QAction>
#include <QPainter>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace vennimo;

TEST(QuickOpenStatus, TitlesAndToolTipsTellTheKeyAndTheArrivals) {
    struct Case {
        const char* name;
        QuickOpenStatusInput input;
        QuickOpenStatus expected;
    };
    const QString key = QStringLiteral("Ctrl+Alt+P");
    const QList<Case> cases{
        {"closed, no shortcut controller",
         {.open = false},
         {"展开Vennimo", false, "后台接收中", "展开Vennimo", "Vennimo，展开Vennimo", false}},
        {"open with its key",
         {.open = true, .shortcutLabel = key, .shortcutRegistered = true},
         {"收起Vennimo（Ctrl+Alt+P）", false, "后台接收中", "收起Vennimo · Ctrl+Alt+P",
          "Vennimo，收起Vennimo", false}},
        {"the key failed to register",
         {.open = true, .shortcutLabel = key, .shortcutRegistered = false},
         {"收起Vennimo", false, "后台接收中", "收起Vennimo · 快捷键不可用", "Vennimo，收起Vennimo", false}},
        {"collecting, nothing yet",
         {.open = false, .shortcutLabel = key, .shortcutRegistered = true, .collecting = true},
         {"展开Vennimo（Ctrl+Alt+P）", true, "后台接收中", "展开Vennimo · Ctrl+Alt+P", "Vennimo，展开Vennimo",
          false}},
        {"three arrivals while collecting",
         {.open = false, .shortcutLabel = key, .shortcutRegistered = true, .arrivals = 3, .collecting = true},
         {"展开Vennimo（Ctrl+Alt+P）", true, "后台接收中 · 3 张新照片",
          "展开Vennimo · Ctrl+Alt+P · 3 张新照片", "Vennimo，展开Vennimo，3 张新照片", true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QuickOpenStatus status = quickOpenStatus(c.input);
        EXPECT_EQ(status.toggleTitle, c.expected.toggleTitle);
        EXPECT_EQ(status.collectionVisible, c.expected.collectionVisible);
        EXPECT_EQ(status.collectionTitle, c.expected.collectionTitle);
        EXPECT_EQ(status.toolTip, c.expected.toolTip);
        EXPECT_EQ(status.accessibleName, c.expected.accessibleName);
        EXPECT_EQ(status.dot, c.expected.dot);
    }

    // The tray carries what it was given; the menu keeps its order and fixed titles.
    GalleryStatusItem item;
    item.apply(quickOpenStatus(cases.last().input));
    EXPECT_EQ(item.trayIcon().toolTip(), cases.last().expected.toolTip);
    EXPECT_TRUE(item.collectionAction()->isVisible());
    EXPECT_FALSE(item.collectionAction()->isEnabled());
    QStringList titles;
    for (const QAction* action : item.menu().actions())
        titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(titles, (QStringList{"展开Vennimo（Ctrl+Alt+P）", "后台接收中 · 3 张新照片", "撤销取下", "重做",
                                   "普通窗口", "设置…", "检查更新…", "自动检查更新", "立即刷新", "-",
                                   "退出Vennimo"}));
    item.applyMenu({.undoTitle = std::nullopt,
                    .redoTitle = QStringLiteral("重做取下"),
                    .normalGalleryEnabled = false,
                    .automaticChecks = true});
    EXPECT_FALSE(item.undoAction()->isVisible());
    EXPECT_EQ(item.redoAction()->text(), QStringLiteral("重做取下"));
    EXPECT_FALSE(item.normalGalleryAction()->isEnabled());
    EXPECT_TRUE(item.automaticUpdatesAction()->isChecked());
}

TEST(StatusIconArtwork, StrokesFallOnWholePixelsAndTheDotShowsOnlyWithArrivals) {
    for (const int pixels : {16, 22, 32, 44}) {
        SCOPED_TRACE(pixels);
        const QImage plain = StatusIconArtwork::render(pixels, false);
        const QImage dotted = StatusIconArtwork::render(pixels, true);
        ASSERT_EQ(plain.size(), QSize(pixels, pixels));
        // For a person to look at, eight times as large.
        for (const auto& [image, name] : {std::pair{plain, "plain"}, std::pair{dotted, "dot"}})
            image.scaled(pixels * 8, pixels * 8)
                .save(QStringLiteral(QT_TESTCASE_BUILDDIR "/tray-icon-%1-%2.png").arg(pixels).arg(name));
        // The dot's centre at 17.5 of 20 points across, 3.5 down.
        const QPoint dotCentre(int(17.5 * pixels / 20), int(3.5 * pixels / 20));
        EXPECT_EQ(qAlpha(dotted.pixel(dotCentre)), 255);
        EXPECT_LT(qAlpha(plain.pixel(dotCentre)), 255);
        // The photo's left edge: a column of fully covered dark pixels, not a blur over two.
        int longestRun = 0;
        for (int x = 0; x < pixels / 3; ++x) {
            int run = 0;
            for (int y = 0; y < pixels; ++y) {
                const QRgb pixel = plain.pixel(x, y);
                run = qAlpha(pixel) == 255 && qGray(pixel) < 80 ? run + 1 : 0;
                longestRun = std::max(longestRun, run);
            }
        }
        EXPECT_GE(longestRun, pixels * 4 / 10);
    }
}

namespace {

double luminance(QRgb rgb) {
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double contrast(QRgb a, QRgb b) {
    const double first = luminance(a), second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

} // namespace

// Trays come light and dark: on both, over a quarter of the icon's square and the arrival dot
// stand out from the panel by at least the 3:1 contrast that graphics need.
TEST(StatusIconArtwork, ReadsOnLightAndDarkPanels) {
    for (const QColor panel : {QColor(240, 240, 240), QColor(40, 40, 40)}) {
        for (const int pixels : {16, 22, 32}) {
            SCOPED_TRACE(QStringLiteral("%1 px on %2").arg(pixels).arg(panel.name()).toStdString());
            QImage shown(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
            shown.fill(panel);
            QPainter(&shown).drawImage(0, 0, StatusIconArtwork::render(pixels, true));
            int standing = 0;
            for (int y = 0; y < pixels; ++y)
                for (int x = 0; x < pixels; ++x)
                    standing += contrast(shown.pixel(x, y), panel.rgb()) >= 3 ? 1 : 0;
            EXPECT_GE(standing, pixels * pixels * 28 / 100) << "pixels standing out from the panel";
            const QPoint dotCentre(int(17.5 * pixels / 20), int(3.5 * pixels / 20));
            EXPECT_GE(contrast(shown.pixel(dotCentre), panel.rgb()), 3) << "the arrival dot";
            shown.scaled(pixels * 8, pixels * 8)
                .save(QStringLiteral(QT_TESTCASE_BUILDDIR "/tray-icon-%1-on-%2.png")
                          .arg(pixels)
                          .arg(panel.name()));
        }
    }
}
