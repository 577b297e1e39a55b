#include "settings/FakeSettingsServices.h"

#include "platform/UserDefaults.h"
#include "settings/AlwaysVisibleScrollerView.h"
#include "settings/DragHelpPicture.h"
#include "settings/GalleryHelpSettingsView.h"
#include "settings/GallerySettingsEditor.h"
#include "settings/GallerySettingsView.h"
#include "settings/GeneralSettingsView.h"
#include "settings/HangingAppearanceSettingsView.h"
#include "settings/HangingMotionPreview.h"
#include "settings/HangingStyleCard.h"
#include "settings/QuickOpenSettingsView.h"
#include "settings/SettingsSwitch.h"
#include "settings/SourceSettingsView.h"
#include "support/ShownText.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleFactory>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

using test::FakeSettingsServices;

struct OpenWindow {
    FakeSettingsServices services;
    UserDefaults defaults{test::makeFolder("config") + "/VennimoGallery/defaults.json"};
    std::unique_ptr<GallerySettingsEditor> editor;
    std::unique_ptr<GallerySettingsView> view;

    OpenWindow() {
        services.storedFolders = {
            {"desktop", QString("desktop"), QDir::homePath() + "/Desktop", std::nullopt, true},
            {"S", std::nullopt, QDir::homePath() + "/Pictures/Screens", QByteArray("grant"), false}};
        services.issues.insert("S", QStringLiteral("需要重新选择以恢复访问"));
        editor = std::make_unique<GallerySettingsEditor>(services, defaults);
        view = std::make_unique<GallerySettingsView>(*editor);
        view->show();
    }
    void shoot(const QString& name) {
        QDir().mkpath(VENNIMO_SCREENSHOT_DIR);
        view->grab().save(QStringLiteral(VENNIMO_SCREENSHOT_DIR "/") + name + ".png");
    }
};

// The editor's message as gtest prints it readably.
std::string messageOf(const GallerySettingsEditor& editor) {
    return editor.message().value_or(QStringLiteral("<none>")).toStdString();
}

QStringList labels(const QWidget* widget) {
    QStringList texts;
    for (const QLabel* label : widget->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts.append(label->text());
    return texts;
}

TEST(GallerySettingsView, FourToolbarTabsAtTheirSizesOverOneAutosavedDraft) {
    OpenWindow w;
    QStringList titles;
    for (QAction* action : w.view->toolbar()->actions())
        if (!action->text().isEmpty())
            titles.append(action->text());
    EXPECT_EQ(titles, QStringList({"通用", "晾衣绳", "快捷键", "帮助"}));
    const int toolbar = w.view->toolbar()->sizeHint().height() + 1;
    const QList<std::pair<SettingsPane, int>> heights{{SettingsPane::general, 480},
                                                      {SettingsPane::hanging, 560},
                                                      {SettingsPane::shortcut, 400},
                                                      {SettingsPane::help, 580}};
    for (const auto& [pane, height] : heights) {
        w.view->selectPane(pane);
        EXPECT_EQ(w.view->size(), QSize(600, toolbar + height)) << height;
        EXPECT_EQ(w.view->pane(pane)->size(), QSize(600, height));
        w.shoot(QStringLiteral("pane-%1").arg(int(pane)));
    }

    // The general pane: rows in draft order, an access problem with its re-authorise button.
    GeneralSettingsView* general = w.view->pane(SettingsPane::general)->general();
    const QStringList texts = labels(general);
    EXPECT_LT(texts.indexOf("桌面"), texts.indexOf("Screens"));
    EXPECT_TRUE(texts.contains("需要重新选择以恢复访问"));
    EXPECT_EQ(general->draftIssues().keys(), QStringList{"S"});

    // A switch flipped in a pane is saved at once; the folder list goes to the store.
    general->setFolderEnabled(w.services.storedFolders[1], true);
    EXPECT_EQ(w.services.log, QStringList{"folders"});
    EXPECT_TRUE(w.services.storedFolders[1].enabled);
    EXPECT_FALSE(w.editor->hasChanges());
    general->remove(w.services.storedFolders[1]);
    EXPECT_EQ(w.services.storedFolders.size(), 1);
    EXPECT_TRUE(general->draftIssues().isEmpty());
    general->restoreDefaults();
    ASSERT_EQ(w.services.storedFolders.size(), 1);
    EXPECT_EQ(w.services.storedFolders[0].id, w.services.defaultFolders()[0].id);

    // A failed save shows its message under every pane; a later success hides it.
    w.services.shortcutWorks = false;
    QuickOpenSettingsView* quick = w.view->pane(SettingsPane::shortcut)->quickOpen();
    ASSERT_NE(quick, nullptr);
    quick->modifierBox(GalleryShortcut::kShiftMask)->click();
    for (SettingsPane pane : SettingsPaneInfo::all()) {
        EXPECT_TRUE(w.view->pane(pane)->messageShown());
        EXPECT_EQ(w.view->pane(pane)->messageText(), QStringLiteral("未能应用：快捷键暂时不可用。"));
    }
    EXPECT_EQ(quick->statusText(), QStringLiteral("Ctrl+Alt+P")) << "the registered key stays shown";
    w.view->selectPane(SettingsPane::shortcut);
    w.shoot("shortcut-failed");
    w.services.shortcutWorks = true;
    quick->keyPicker()->setCurrentIndex(quick->keyPicker()->findText("K"));
    Q_EMIT quick->keyPicker()->activated(quick->keyPicker()->currentIndex());
    EXPECT_EQ(w.services.registeredShortcut.label(), QStringLiteral("Ctrl+Alt+Shift+K"))
        << "the ticked modifiers stay";
    EXPECT_EQ(quick->statusText(), QStringLiteral("Ctrl+Alt+Shift+K"));
    EXPECT_FALSE(w.view->pane(SettingsPane::general)->messageShown());
}

// Ticking a modifier off and on again brings the draft back to what is in force; the message then
// says what still fails, and nothing once nothing does.
TEST(GallerySettingsView, TheMessageFollowsAShortcutEditedBackToTheKeyInForce) {
    const auto toggleControl = [](OpenWindow& w) {
        QuickOpenSettingsView* quick = w.view->pane(SettingsPane::shortcut)->quickOpen();
        quick->modifierBox(GalleryShortcut::kControlMask)->click();
    };
    const QString rule = QStringLiteral("未能应用：快捷键需包含 Ctrl 或 Super。");

    // Nothing else pending: the rule's warning goes with the rule's breach, under every pane.
    {
        OpenWindow w;
        toggleControl(w);
        EXPECT_EQ(w.view->pane(SettingsPane::help)->messageText(), rule);
        toggleControl(w);
        for (SettingsPane pane : SettingsPaneInfo::all())
            EXPECT_FALSE(w.view->pane(pane)->messageShown()) << int(pane);
        EXPECT_EQ(messageOf(*w.editor), "<none>");
        EXPECT_TRUE(w.services.log.isEmpty()) << "the key in force is not registered again";
    }

    // A launch-at-login switch that failed is still named once the key is valid again.
    {
        OpenWindow w;
        w.services.loginWorks = false;
        GallerySettingsValues draft = w.editor->draft();
        draft.login = true;
        w.editor->setDraft(draft);
        toggleControl(w);
        EXPECT_EQ(messageOf(*w.editor), (rule + QStringLiteral("\n登录启动设置未完成。")).toStdString());
        toggleControl(w);
        EXPECT_EQ(w.view->pane(SettingsPane::general)->messageText().toStdString(),
                  "未能应用：登录启动设置未完成。");
    }

    // A key that could not be registered at start is tried again and, failing, says why; closing
    // the window with the rule broken tries nothing.
    {
        OpenWindow w;
        w.view.reset();
        w.services.registered = false;
        w.services.shortcutWorks = false;
        w.services.shortcutProblem =
            QStringLiteral("无法注册 Ctrl+Alt+P，可能已被其他应用占用；请换一个组合。");
        w.editor = std::make_unique<GallerySettingsEditor>(w.services, w.defaults);
        w.view = std::make_unique<GallerySettingsView>(*w.editor);
        toggleControl(w);
        EXPECT_EQ(messageOf(*w.editor), rule.toStdString());
        toggleControl(w);
        EXPECT_EQ(messageOf(*w.editor), "未能应用：" + w.services.shortcutProblem->toStdString());
        EXPECT_EQ(w.services.log, QStringList{"shortcut Ctrl+Alt+P"}) << "tried again";
        toggleControl(w);
        w.services.log.clear();
        w.editor->discard();
        EXPECT_EQ(w.editor->draft(), w.editor->saved());
        EXPECT_EQ(messageOf(*w.editor), "<none>");
        EXPECT_TRUE(w.services.log.isEmpty()) << qPrintable(w.services.log.join(", "));
    }
}

TEST(GallerySettingsView, ALongFolderListBuildsRowsOnlyForWhatShows) {
    FakeSettingsServices services;
    for (int i = 0; i < 10'000; ++i)
        services.storedFolders.append({QString::number(i), std::nullopt,
                                       QDir::homePath() + "/many/folder-" + QString::number(i), std::nullopt,
                                       true});
    UserDefaults defaults{test::makeFolder("config-many") + "/VennimoGallery/defaults.json"};
    GallerySettingsEditor editor(services, defaults);
    GallerySettingsView view(editor);
    view.show();
    view.selectPane(SettingsPane::general);
    GeneralSettingsView* general = view.pane(SettingsPane::general)->general();
    QCoreApplication::processEvents();

    const auto switches = general->findChildren<SettingsSwitch*>().size();
    EXPECT_GT(switches, 2) << "the first rows show";
    EXPECT_LT(switches, 40) << "not a row widget per folder";
    QStringList texts = labels(general);
    EXPECT_TRUE(texts.contains("folder-0"));
    EXPECT_FALSE(texts.contains("folder-9999"));

    // The list shows four rows whole and scrolls for the rest.
    auto* list = general->findChild<QListView*>();
    ASSERT_NE(list, nullptr);
    const int row = list->sizeHintForRow(0);
    ASSERT_GT(row, 0);
    EXPECT_EQ(list->viewport()->height(), 4 * row);
    EXPECT_EQ(list->indexAt(QPoint(1, list->viewport()->height() - 1)).row(), 3);
    EXPECT_GT(list->verticalScrollBar()->maximum(), 0);

    // Scrolled to the end, the last rows show and the first ones went.
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    texts = labels(general);
    EXPECT_TRUE(texts.contains("folder-9999"));
    EXPECT_FALSE(texts.contains("folder-0"));
    EXPECT_LT(general->findChildren<SettingsSwitch*>().size(), 40);

    // A row's switch still edits its folder.
    general->setFolderEnabled(services.storedFolders[9999], false);
    EXPECT_FALSE(services.storedFolders[9999].enabled);
}

TEST(GallerySettingsView, FolderPanelsAddAndReauthoriseThroughTheDraft) {
    OpenWindow w;
    GeneralSettingsView* general = w.view->pane(SettingsPane::general)->general();
    QStringList asked;
    std::optional<QString> answer;
    GeneralSettingsView::Panels panels;
    panels.chooseFolders = [&](const QString& title, const QString& prompt) {
        asked.append(title + "|" + prompt);
        return answer ? QStringList{*answer} : QStringList();
    };
    panels.chooseFolder = [&](const QString& title, const QString& prompt, const QString& directory) {
        asked.append(title + "|" + prompt + "|" + directory);
        return answer;
    };
    general->setPanels(panels);

    // Cancelled panels change nothing.
    general->chooseFolders();
    general->reauthorize(w.services.storedFolders[1]);
    EXPECT_EQ(asked, QStringList({"添加图片源文件夹|添加",
                                  "重新选择 Screens|使用此文件夹|" + w.services.storedFolders[1].path}));
    EXPECT_TRUE(w.services.log.isEmpty());

    // A refused addition is named; the draft stays.
    answer = test::makeFolder("Pictures/New");
    w.services.addingFailure = Error::fromErrno(ENOENT, *answer);
    general->chooseFolders();
    EXPECT_EQ(w.editor->message(), "无法添加源文件夹：" + w.services.addingFailure->localizedDescription());
    EXPECT_EQ(w.editor->draft().folders.size(), 2);
    w.services.addingFailure.reset();
    general->chooseFolders();
    EXPECT_FALSE(w.editor->message());
    EXPECT_EQ(w.services.storedFolders.size(), 3) << "added and saved";

    // Re-authorising the Desktop entry with another folder drops its kind; a folder that cannot
    // be bookmarked is named and changes nothing.
    general->reauthorize(w.services.storedFolders[0]);
    EXPECT_EQ(w.services.storedFolders[0].id, "desktop");
    EXPECT_EQ(w.services.storedFolders[0].path, *answer);
    EXPECT_FALSE(w.services.storedFolders[0].kind);
    EXPECT_EQ(w.services.storedFolders[0].name(), "New");
    answer = QDir::homePath() + "/gone";
    general->reauthorize(w.services.storedFolders[1]);
    ASSERT_TRUE(w.editor->message());
    EXPECT_TRUE(w.editor->message()->startsWith("无法重新授权："));
    EXPECT_EQ(w.services.storedFolders[1].path, QDir::homePath() + "/Pictures/Screens");
    EXPECT_EQ(general->draftIssues().keys(), QStringList{"S"}) << "still unresolved";
}

TEST(GallerySettingsView, FolderNamesPathsAndMessagesShowAsWritten) {
    const QString path = QDir::homePath() + "/<b>相册 & <i>旧";
    FakeSettingsServices services;
    services.storedFolders = {{"M", std::nullopt, path, QByteArray("grant"), true}};
    UserDefaults defaults{test::makeFolder("config") + "/VennimoGallery/defaults.json"};
    GallerySettingsEditor editor(services, defaults);
    GallerySettingsView view(editor);
    view.show();
    GeneralSettingsView* general = view.pane(SettingsPane::general)->general();
    QStringList shown = test::shownTexts(*general);
    EXPECT_TRUE(shown.contains("<b>相册 & <i>旧")) << shown.join('|').toStdString();
    // The path row, cut in its middle where it is long.
    EXPECT_TRUE(std::any_of(shown.cbegin(), shown.cend(), [](const QString& text) {
        return text.endsWith("/<b>相册 & <i>旧");
    })) << shown.join('|').toStdString();
    QStringList tips;
    for (const QLabel* label : general->findChildren<QLabel*>())
        if (!label->toolTip().isEmpty())
            tips.append(test::shownToolTip(label->toolTip()));
    EXPECT_EQ(tips, QStringList{path});

    // A refused folder is named in the message as written too.
    GeneralSettingsView::Panels panels;
    panels.chooseFolders = [&](const QString&, const QString&) { return QStringList{path + "/新"}; };
    general->setPanels(panels);
    services.addingFailure = Error::fromErrno(ENOENT, path + "/新");
    general->chooseFolders();
    ASSERT_TRUE(editor.message());
    shown = test::shownTexts(view);
    EXPECT_TRUE(shown.contains(*editor.message())) << shown.join('|').toStdString();
}

TEST(GallerySettingsView, TheHelpTableHoldsTenKeysInFiveRowsOfTwo) {
    const QList<QList<GalleryHelpSettingsView::KeyAction>> rows = GalleryHelpSettingsView::keyRows();
    ASSERT_EQ(rows.size(), 5);
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), 2);
    EXPECT_EQ(rows[0][0].first, "单击 / 双击");
    EXPECT_EQ(rows[4][0].first, "Ctrl+Z  Ctrl+Shift+Z") << "two spaces between the keys";
    EXPECT_EQ(rows[4][1].second, "取消拖动 / 选择");

    GalleryHelpSettingsView help;
    const QStringList texts = labels(help.content());
    EXPECT_TRUE(texts.contains("删除：本地文件进废纸篓。"));
    EXPECT_LT(texts.indexOf("拖动"), texts.indexOf("快捷键"));
    EXPECT_LT(texts.indexOf("拖照片"), texts.indexOf("拖夹子")) << "the photo card first";
}

TEST(GallerySettingsView, TheHelpPaneAlwaysShowsItsScrollerAndAPegWithoutArtwork) {
    // A desktop whose scroll bars show only while scrolling.
    class TransientStyle : public QProxyStyle {
    public:
        using QProxyStyle::QProxyStyle;
        int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                      QStyleHintReturn* data) const override {
            return hint == SH_ScrollBar_Transient ? 1 : QProxyStyle::styleHint(hint, option, widget, data);
        }
    };
    const QString previous = QApplication::style()->name();
    QApplication::setStyle(new TransientStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    {
        QScrollArea plain;
        ASSERT_EQ(plain.verticalScrollBar()->style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr,
                                                                plain.verticalScrollBar()),
                  1);
        auto* content = new QLabel(QStringLiteral("短"));
        AlwaysVisibleScrollerView scroller(content);
        scroller.resize(300, 400);
        scroller.setScrollerStyle(AlwaysVisibleScrollerView::ScrollerStyle::overlay);
        scroller.show();
        QCoreApplication::processEvents();
        QScrollBar* bar = scroller.verticalScrollBar();
        EXPECT_EQ(scroller.scrollerStyle(), AlwaysVisibleScrollerView::ScrollerStyle::legacy);
        EXPECT_EQ(bar->style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, bar), 0);
        EXPECT_TRUE(bar->isVisible()) << "shown though everything fits";
        EXPECT_FALSE(scroller.horizontalScrollBar()->isVisible());
        EXPECT_EQ(content->width(), scroller.viewport()->width());
        EXPECT_EQ(content->y(), 0) << "short content sits at the top";
    }
    QApplication::setStyle(QStyleFactory::create(previous));
    GalleryHelpSettingsView help;
    EXPECT_NE(help.findChild<AlwaysVisibleScrollerView*>(), nullptr);

    // Without the peg artwork the peg is a 9 x 32 amber bar; with it, the artwork fits 28 x 38.
    DragHelpPicture::Parts parts;
    parts.framed = false;
    parts.rope = false;
    parts.amber = QColor::fromRgbF(0.67f, 0.4f, 0.15f);
    parts.blue = QColor::fromRgbF(0.2f, 0.43f, 0.72f);
    const auto drawn = [&](const std::optional<QImage>& artwork) {
        QImage image(DragHelpPicture::kSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        DragHelpPicture::draw(painter, parts, artwork);
        return image;
    };
    const QImage bar = drawn(std::nullopt);
    for (const QPoint inside : {QPoint(56, 27), QPoint(53, 13), QPoint(59, 35)})
        EXPECT_EQ(bar.pixel(inside), parts.amber.rgb()) << inside.x() << "," << inside.y();
    for (const QPoint outside : {QPoint(63, 27), QPoint(49, 27), QPoint(56, 9)})
        EXPECT_EQ(qAlpha(bar.pixel(outside)), 0) << outside.x() << "," << outside.y();
    QImage artwork(10, 10, QImage::Format_ARGB32);
    artwork.fill(Qt::green);
    const QImage art = drawn(artwork);
    EXPECT_EQ(art.pixel(56, 27), QColor(Qt::green).rgb());
    EXPECT_EQ(art.pixel(66, 16), QColor(Qt::green).rgb());
}

// Keys are named as a Linux keyboard labels them, and nothing names what this desktop lacks.
TEST(GallerySettingsView, ThePanesNameKeysByTheirLinuxNames) {
    OpenWindow w;
    QuickOpenSettingsView* quick = w.view->pane(SettingsPane::shortcut)->quickOpen();
    ASSERT_NE(quick, nullptr);
    QStringList boxes;
    for (const std::uint32_t mask : {GalleryShortcut::kControlMask, GalleryShortcut::kOptionMask,
                                     GalleryShortcut::kShiftMask, GalleryShortcut::kCommandMask})
        boxes.append(quick->modifierBox(mask)->text());
    EXPECT_EQ(boxes, QStringList({"Ctrl", "Alt", "Shift", "Super"}));
    QStringList texts;
    for (SettingsPane pane : SettingsPaneInfo::all())
        texts += labels(w.view->pane(pane));
    texts += labels(GalleryHelpSettingsView().content());
    EXPECT_TRUE(texts.contains("需包含 Ctrl 或 Super"));
    for (const QString& text : texts) {
        for (const char16_t symbol : {u'⌃', u'⌥', u'⇧', u'⌘', u'⌫'})
            EXPECT_FALSE(text.contains(QChar(symbol))) << text.toStdString();
        EXPECT_FALSE(text.contains("最近删除")) << text.toStdString();
    }
}

TEST(GallerySettingsView, CardsAndSwitchesEditTheStyleAndOnlyCardsReplay) {
    OpenWindow w;
    w.view->selectPane(SettingsPane::hanging);
    HangingAppearanceSettingsView* hanging = w.view->pane(SettingsPane::hanging)->hanging();
    ASSERT_NE(hanging, nullptr);
    const QList<HangingStyleCard*>& cards = hanging->cards();
    ASSERT_EQ(cards.size(), 4);
    QStringList names;
    for (HangingStyleCard* card : cards)
        names.append(card->accessibleName());
    EXPECT_EQ(names, QStringList(
                         {"居中 · 垂直，绳子轻弹，照片始终直立", "偏心 · 垂直，夹点错落，照片始终直立",
                          "居中 · 自然，小幅轻摆，停在微微倾角", "偏心 · 自然，偏心悬挂，缓缓摆向自然倾角"}));
    const auto selected = [&] {
        QList<int> marks;
        for (int i = 0; i < cards.size(); ++i)
            if (cards[i]->selected())
                marks.append(i);
        return marks;
    };
    EXPECT_EQ(selected(), QList<int>{0});

    // A switch moves the selection without a replay.
    hanging->offCenterSwitch()->click();
    EXPECT_EQ(selected(), QList<int>{1});
    EXPECT_EQ(hanging->replay(), 0);
    EXPECT_TRUE(w.defaults.clotheslineOffCenterPeg()) << "saved at once";
    hanging->verticalSwitch()->click();
    EXPECT_EQ(selected(), QList<int>{3});

    // Any card, the chosen one too, replays every miniature.
    cards[3]->click();
    EXPECT_EQ(hanging->replay(), 1);
    for (HangingStyleCard* card : cards) {
        EXPECT_EQ(card->preview()->replay(), 1);
        EXPECT_TRUE(card->preview()->running());
        EXPECT_EQ(card->preview()->style(), card->style()) << "each card shows its own style";
    }
    cards[0]->click();
    EXPECT_EQ(w.editor->saved().style, (HangingStyle{false, true}));
    EXPECT_FALSE(w.defaults.clotheslineOffCenterPeg());
    w.shoot("hanging-animating");
}

} // namespace
} // namespace vennimo
