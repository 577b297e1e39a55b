#include "GridFixture.h"

#include "grid/GalleryActionBar.h"
#include "grid/GallerySearchField.h"
#include "grid/PhotoCard.h"

#include <QAbstractButton>
#include <QToolButton>

namespace vennimo::test {
namespace {

using State = GalleryActionBar::State;

// Which of the two rope menu items are enabled, as "hang/take-down".
QString menuState(Grid& grid) {
    GalleryActionBar* bar = grid.view->actionBar();
    return QString("%1/%2").arg(bar->hangAction()->isEnabled()).arg(bar->takeDownAction()->isEnabled());
}

TEST(GalleryActionBar, TheRopeMenuEnablesByWhatTheSelectedPhotosDo) {
    Grid grid({"a.png", "b.png", "c.png"});
    const Photo a = grid.photo("a.png");
    const Photo b = grid.photo("b.png");
    const Photo c = grid.photo("c.png");
    ASSERT_TRUE(grid.model->hangs(a) && grid.model->hangs(b) && grid.model->hangs(c));

    EXPECT_EQ(menuState(grid), "0/0") << "no selection";
    grid.model->setSelection({a, b});
    EXPECT_EQ(menuState(grid), "0/1") << "all selected photos hang";
    ASSERT_TRUE(grid.model->setHanging({b}, false, RopeHistoryRecording::untracked));
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({a.id})) << "a take-down leaves the selection";
    grid.model->setSelection({a, b});
    EXPECT_EQ(menuState(grid), "1/1") << "one hangs, one does not";
    grid.model->setSelection({b});
    EXPECT_EQ(menuState(grid), "1/0");

    // A photo whose trash take-down is still pending does not hang.
    grid.model->addPendingTrashTakeDown({c});
    grid.model->setSelection({c});
    EXPECT_EQ(menuState(grid), "1/0");
    grid.model->removePendingTrashTakeDown({c});

    grid.model->setSelection({a, b});
    for (auto busy : {&GalleryModel::setImporting, &GalleryModel::setDeleting}) {
        (grid.model.get()->*busy)(true);
        EXPECT_EQ(menuState(grid), "0/0") << "busy";
        (grid.model.get()->*busy)(false);
    }

    // Hanging applies to the photos that do not hang; taking down is recorded for undo.
    grid.view->actionBar()->hangAction()->trigger();
    EXPECT_TRUE(grid.model->hangs(b));
    EXPECT_EQ(menuState(grid), "0/1");
    grid.view->actionBar()->takeDownAction()->trigger();
    EXPECT_FALSE(grid.model->hangs(a));
    EXPECT_FALSE(grid.model->hangs(b));
    EXPECT_TRUE(grid.model->hangs(c));
    EXPECT_TRUE(grid.model->canUndoRopeAction());
}

TEST(GalleryActionBar, ControlsFollowTheModeTheSelectionAndTheBusyFlags) {
    Grid grid({"a.png", "b.png", "c.jpg"});
    GalleryActionBar* bar = grid.view->actionBar();
    const auto enabled = [&](const char* label) {
        QAbstractButton* button = bar->button(QString::fromUtf8(label));
        EXPECT_NE(button, nullptr) << label;
        return button && button->isEnabled();
    };

    // Outside selection mode: the search field, and properties only for exactly one visible photo.
    EXPECT_TRUE(bar->searchField()->isVisibleTo(bar));
    EXPECT_EQ(bar->button(QString::fromUtf8("全选")), nullptr);
    EXPECT_FALSE(enabled("属性"));
    bar->searchField()->setText("jpg");
    EXPECT_EQ(grid.view->query(), "jpg") << "the field edits the screen's query";
    EXPECT_TRUE(bar->searchField()->clearButton()->isVisibleTo(bar));
    EXPECT_TRUE(enabled("属性"));
    bar->searchField()->clearButton()->click();
    EXPECT_TRUE(grid.view->query().isEmpty());
    EXPECT_FALSE(bar->searchField()->clearButton()->isVisibleTo(bar));
    bar->searchField()->setText(" ");
    EXPECT_TRUE(bar->searchField()->clearButton()->isVisibleTo(bar)) << "white space is text too";
    bar->searchField()->setText("");

    grid.model->setSelection({grid.photo("a.png")});
    EXPECT_FALSE(bar->searchField()->isVisibleTo(bar));
    for (const char* label : {"全选", "查看", "复制", "属性", "删除", "晾衣绳", "设置"})
        EXPECT_TRUE(enabled(label)) << label;

    grid.model->setImporting(true);
    for (const char* label : {"查看", "属性", "设置"})
        EXPECT_TRUE(enabled(label)) << label << " while importing";
    for (const char* label : {"全选", "复制", "删除", "晾衣绳"})
        EXPECT_FALSE(enabled(label)) << label << " while importing";
    grid.model->setImporting(false);

    grid.model->setDeleting(true);
    EXPECT_TRUE(bar->state().trashBusy);
    for (const char* label : {"全选", "查看", "复制", "属性", "删除", "晾衣绳", "设置"})
        EXPECT_FALSE(enabled(label)) << label << " while deleting";
    grid.model->setDeleting(false);

    // Select all toggles over the visible photos.
    bar->button(QString::fromUtf8("全选"))->click();
    EXPECT_EQ(grid.model->selectedIDs().size(), 3);
    bar->button(QString::fromUtf8("全选"))->click();
    EXPECT_FALSE(grid.model->selectionMode());

    // The view button previews the first selected photo; the rope and settings buttons call out.
    grid.model->setSelection({grid.photo("b.png"), grid.photo("a.png")});
    bar->button(QString::fromUtf8("查看"))->click();
    ASSERT_TRUE(grid.view->previewPhoto().has_value());
    EXPECT_EQ(grid.view->previewPhoto()->id, grid.model->selectedPhotos().first().id);
    bar->button(QString::fromUtf8("晾衣绳"))->click();
    bar->button(QString::fromUtf8("设置"))->click();
    EXPECT_EQ(grid.ropeRequested, 1);
    EXPECT_EQ(grid.settingsOpened, 1);

    State copied;
    copied.copiedCount = 3;
    EXPECT_EQ(copied.copyLabel(), QString::fromUtf8("已复制 3 张"));
    EXPECT_EQ(copied.copySymbol(), "checkmark");
    EXPECT_EQ(State{}.copyLabel(), QString::fromUtf8("复制"));
}

TEST(PhotoCard, FlagsLabelsAndTheActionsOfOneCard) {
    Grid grid({"a.png", "b.png"});
    const Photo a = grid.photo("a.png");
    const Photo b = grid.photo("b.png");
    EXPECT_EQ(PhotoCard::flags(*grid.model, a), (PhotoCard::Flags{true, true, true}));

    // Taken down: the toggle hangs it again; hanging: the toggle takes it down.
    PhotoCard::toggleUsage(*grid.model, a);
    EXPECT_FALSE(grid.model->hangs(a));
    EXPECT_FALSE(PhotoCard::flags(*grid.model, a).unused);
    PhotoCard::toggleUsage(*grid.model, a);
    EXPECT_TRUE(grid.model->hangs(a));
    // Awaiting a trash take-down counts as not hanging, and the toggle hangs.
    grid.model->addPendingTrashTakeDown({b});
    EXPECT_FALSE(PhotoCard::flags(*grid.model, b).unused);

    grid.model->setImporting(true);
    EXPECT_EQ(PhotoCard::flags(*grid.model, a), (PhotoCard::Flags{true, false, true}));
    grid.model->setImporting(false);

    PhotoCard::MenuActions none;
    const auto titles = [&](const PhotoCard::Flags& flags) {
        QStringList items;
        const std::unique_ptr<QMenu> menu = PhotoCard::contextMenu(flags, none);
        for (QAction* action : menu->actions())
            items.append(action->text() + (action->isEnabled() ? "" : " (off)"));
        return items;
    };
    EXPECT_EQ(titles({false, false, false}),
              QStringList({"查看大图 (off)", "复制 (off)", "在文件管理器中显示", "用默认应用打开",
                           "挂到晾衣绳 (off)"}));

    EXPECT_EQ(PhotoCard::accessibilityLabel(a, {true, true}), QString::fromUtf8("已选，a.png，源"));
    EXPECT_EQ(PhotoCard::accessibilityLabel(a, {false, true}), QString::fromUtf8("未选，a.png，源"));
    EXPECT_EQ(PhotoCard::accessibilityLabel(a, {true, false}), QString::fromUtf8("a.png，源"));

    // Opening counts as a use only when it worked and the exhibition is usable.
    PhotoCard::open(*grid.model, a, [](const QString&) { return false; });
    EXPECT_FALSE(grid.model->usedCopyIDs().contains(a.recordKey()));
    PhotoCard::open(*grid.model, a, [](const QString&) { return true; });
    EXPECT_TRUE(grid.model->usedCopyIDs().contains(a.recordKey()));
    EXPECT_TRUE(grid.model->interactions().isUsed(a));
}

} // namespace
} // namespace vennimo::test
