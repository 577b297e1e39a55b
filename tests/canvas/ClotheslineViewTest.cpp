#include "canvas/ClotheslineView.h"
#include "RopeFixture.h"
#include "canvas/ClotheslineErrorBanner.h"
#include "canvas/ClotheslineToolbar.h"
#include "canvas/RopeHitAreas.h"
#include "core/ExhibitionJournal.h"
#include "platform/ReduceMotion.h"
#include "support/ShownText.h"
#include "widgets/HoverHint.h"
#include "widgets/TailCutLabel.h"
#include "widgets/ToolbarIcon.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The rope screen over the fixture's model, in a window of the rope's full height, with the
// chrome expanded at once.
struct Screen {
    Rope rope;
    QWidget window;
    ClotheslineView* view = nullptr;

    explicit Screen(int count)
        : rope(count) {
        ReduceMotion::setReader([] { return std::optional<bool>(true); });
        window.resize(980, int(ClotheslineChrome::fullHeightWithPhotos()));
        view = new ClotheslineView(*rope.model, &window);
        view->resize(window.size());
        window.show();
        rope.model->clotheslineChrome().request(true, true, true);
        settle();
    }
    ~Screen() { ReduceMotion::setReader({}); }

    GalleryModel& model() { return *rope.model; }
    ClotheslineToolbar& toolbar() { return *view->toolbar(); }
    void settle() {
        for (int i = 0; i < 6; ++i)
            QCoreApplication::processEvents();
    }
    void select(const QList<int>& indexes) {
        QList<Photo> photos;
        for (int i : indexes)
            photos.append(view->hanging().at(i));
        model().setSelection(photos);
        settle();
    }
};

bool shown(const QWidget* widget) {
    return widget->isVisibleTo(widget->window());
}

} // namespace

TEST(ClotheslineToolbar, ShowsCountsAndDisablesItsControlsByTheSelectionAndTheModelsWork) {
    Screen screen(3);
    ClotheslineToolbar& bar = screen.toolbar();
    ASSERT_TRUE(shown(&bar)) << "expanded, the toolbar shows";
    EXPECT_EQ(bar.countLabel()->text(), "3 张");

    // Nothing selected: no selection group, no actions, and the toggle selects all.
    EXPECT_FALSE(shown(bar.selectionGroup()));
    EXPECT_FALSE(shown(bar.actionsGroup()));
    EXPECT_TRUE(shown(bar.selectionToggle()));
    EXPECT_EQ(bar.selectionToggle()->text(), "全选");
    EXPECT_EQ(bar.selectionToggle()->objectName(), "clothesline-selection-toggle");

    // One of three: the cancel button, the count, the actions, and the toggle still selects all.
    screen.select({1});
    EXPECT_TRUE(shown(bar.cancelButton()));
    EXPECT_EQ(bar.selectionCount()->text(), "已选 1");
    for (QWidget* w : {static_cast<QWidget*>(bar.viewButton()), static_cast<QWidget*>(bar.copyButton()),
                       static_cast<QWidget*>(bar.takeDownButton()), static_cast<QWidget*>(bar.deleteButton()),
                       static_cast<QWidget*>(bar.propertiesButton())})
        EXPECT_TRUE(shown(w) && w->isEnabled());
    EXPECT_FALSE(shown(bar.undoButton())) << "nothing to undo yet";
    EXPECT_EQ(bar.selectionToggle()->text(), "全选");
    EXPECT_EQ(bar.selectionToggleHint()->text(), "全选  Ctrl+A");
    EXPECT_EQ(bar.copyButton()->hintText(), "复制  Ctrl+C");
    EXPECT_TRUE(bar.deleteButton()->destructive());

    // The toggle selects every hanging print, then reads "取消" and ends the selection.
    bar.selectionToggle()->click();
    screen.settle();
    EXPECT_EQ(screen.model().selectedIDs().size(), 3);
    EXPECT_FALSE(shown(bar.cancelButton())) << "all selected: no cancel button";
    EXPECT_EQ(bar.selectionToggle()->text(), "取消");
    EXPECT_EQ(bar.selectionToggleHint()->text(), "取消全选  Ctrl+A");
    EXPECT_EQ(bar.selectionCount()->text(), "已选 3");

    // Taking two down leaves one hanging print, selected: it leaves the selection with them, and
    // the undo button names the action.
    screen.select({0, 2});
    bar.takeDownButton()->click();
    screen.settle();
    EXPECT_EQ(bar.countLabel()->text(), "1 张");
    EXPECT_TRUE(shown(bar.undoButton()));
    EXPECT_EQ(bar.undoButton()->label(), screen.model().ropeUndoTitle());
    EXPECT_TRUE(shown(bar.selectionGroup())) << "the undo button alone keeps the group";
    EXPECT_FALSE(shown(bar.actionsGroup()));
    screen.select({0});
    EXPECT_FALSE(shown(bar.cancelButton()));
    EXPECT_EQ(bar.selectionToggle()->text(), "取消");
    screen.model().undoRopeAction();
    screen.settle();
    EXPECT_EQ(bar.countLabel()->text(), "3 张");

    // While deleting: the busy delete button, everything but collapse disabled, no undo.
    screen.select({0});
    screen.model().setDeleting(true);
    screen.settle();
    EXPECT_TRUE(bar.deleteButton()->busy());
    EXPECT_FALSE(shown(bar.undoButton()));
    EXPECT_TRUE(bar.collapseButton()->isEnabled());
    for (QWidget* w :
         {static_cast<QWidget*>(bar.viewButton()), static_cast<QWidget*>(bar.copyButton()),
          static_cast<QWidget*>(bar.takeDownButton()), static_cast<QWidget*>(bar.deleteButton()),
          static_cast<QWidget*>(bar.propertiesButton()), static_cast<QWidget*>(bar.selectionToggle()),
          static_cast<QWidget*>(bar.normalWindowButton()), static_cast<QWidget*>(bar.settingsButton())})
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    screen.model().setDeleting(false);

    // While importing: the count says so; view, properties and settings stay enabled.
    screen.model().setImporting(true);
    screen.settle();
    EXPECT_EQ(bar.countLabel()->text(), "正在挂上…");
    EXPECT_TRUE(bar.viewButton()->isEnabled() && bar.propertiesButton()->isEnabled() &&
                bar.settingsButton()->isEnabled());
    EXPECT_FALSE(bar.copyButton()->isEnabled() || bar.takeDownButton()->isEnabled() ||
                 bar.normalWindowButton()->isEnabled());
    screen.model().setImporting(false);
    screen.settle();
}

TEST(ClotheslineToolbar, WhileTheExhibitionIsBlockedOnlyWhatChangesNoRopeStaysEnabled) {
    // An import that finds another transaction's journal leaves the exhibition blocked; the
    // selection stays as it was, since a blocked model refuses to change it.
    const auto blocked = [](const QList<int>& selected) {
        auto screen = std::make_unique<Screen>(3);
        screen->select(selected);
        writeFile(ExhibitionJournal::path(screen->model().indexer().storage()), "{}");
        const QString dropped = makeFolder("blocked-drop") + "/d.png";
        saveImage(makeImage(30, 20), dropped);
        std::optional<bool> imported;
        screen->model().importExhibition({dropped}, 0.5, {}, true, [&](bool ok) { imported = ok; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return imported.has_value(); }, 10000));
        EXPECT_FALSE(imported.value_or(true));
        EXPECT_TRUE(screen->model().exhibitionBlocked());
        EXPECT_FALSE(screen->model().importing() || screen->model().deleting());
        screen->settle();
        return screen;
    };

    // One of three selected: the toggle would select all, which a blocked rope refuses.
    const auto one = blocked({1});
    ClotheslineToolbar& bar = one->toolbar();
    EXPECT_EQ(bar.selectionToggle()->text(), "全选");
    EXPECT_FALSE(bar.selectionToggle()->isEnabled());
    for (QWidget* w : {static_cast<QWidget*>(bar.copyButton()), static_cast<QWidget*>(bar.takeDownButton()),
                       static_cast<QWidget*>(bar.deleteButton())})
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    for (QWidget* w :
         {static_cast<QWidget*>(bar.viewButton()), static_cast<QWidget*>(bar.propertiesButton()),
          static_cast<QWidget*>(bar.cancelButton()), static_cast<QWidget*>(bar.normalWindowButton()),
          static_cast<QWidget*>(bar.settingsButton())})
        EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();

    // All selected: the toggle ends the selection, which stays allowed.
    const auto all = blocked({0, 1, 2});
    EXPECT_EQ(all->toolbar().selectionToggle()->text(), "取消");
    EXPECT_TRUE(all->toolbar().selectionToggle()->isEnabled());
}

TEST(ClotheslineToolbar, KeepsItsCapsuleInsideTheNarrowestRopeAndCentredOnAWideOne) {
    Screen screen(3);
    screen.select({1});
    for (const int width : {760, 980, 1600}) {
        screen.window.resize(width, screen.window.height());
        screen.view->resize(screen.window.size());
        screen.settle();
        const QRectF capsule = screen.toolbar().toolbarLayout()->targetFrames()[0];
        EXPECT_GE(capsule.left(), 0) << width;
        EXPECT_LE(capsule.right(), width) << width;
        EXPECT_EQ(capsule.top(), 8) << width;
        EXPECT_EQ(capsule.height(), 44) << width;
    }
    // Nothing selected on a wide rope: the capsule is centred.
    screen.model().endSelection();
    screen.settle();
    const QRectF bare = screen.toolbar().toolbarLayout()->targetFrames()[0];
    EXPECT_NEAR(bare.center().x(), 800, 0.5);
}

// The title's glyphs, inked as the font draws them, lie inside its label and the label inside the
// title group, on every rope width; beside it the count shows whole, with two digits and while
// importing, whatever is selected, and the capsule stays inside the rope.
TEST(ClotheslineToolbar, ShowsTheWholeTitleOnEveryWidth) {
    Screen screen(12);
    QLabel* title = nullptr;
    for (QLabel* label : screen.toolbar().findChildren<QLabel*>())
        if (label->text() == QString::fromUtf8("晾衣绳"))
            title = label;
    ASSERT_NE(title, nullptr);
    QWidget* group = title->parentWidget()->parentWidget();
    auto* count = qobject_cast<TailCutLabel*>(screen.toolbar().countLabel());
    ASSERT_NE(count, nullptr);
    const auto inked = [](const QLabel* label) {
        const QFontMetricsF metrics(label->font());
        const QRectF ink = metrics.boundingRect(label->text());
        return std::ceil(std::max(ink.right(), metrics.horizontalAdvance(label->text())));
    };
    // A model at work refuses selection changes, so each selection is made before the import.
    for (const QList<int>& selection :
         {QList<int>{}, QList<int>{1}, QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}) {
        screen.model().setImporting(false);
        screen.select(selection);
        for (const bool importing : {false, true}) {
            screen.model().setImporting(importing);
            for (const int width : {760, 980, 1280}) {
                SCOPED_TRACE(testing::Message() << width << " wide, " << selection.size() << " selected"
                                                << (importing ? ", importing" : ""));
                screen.window.resize(width, screen.window.height());
                screen.view->resize(screen.window.size());
                screen.settle();
                ASSERT_EQ(screen.model().selectedIDs().size(), selection.size());
                EXPECT_GE(title->contentsRect().width(), inked(title)) << "px for the title's ink";
                EXPECT_GE(title->contentsRect().height(), std::ceil(QFontMetricsF(title->font()).height()));
                const QRect inGroup(title->mapTo(group, QPoint(0, 0)), title->size());
                EXPECT_TRUE(group->rect().contains(inGroup))
                    << "label " << inGroup.left() << ".." << inGroup.right() << " in a group "
                    << group->width() << " wide";

                EXPECT_EQ(count->text(),
                          importing ? QString::fromUtf8("正在挂上…") : QString::fromUtf8("12 张"));
                const QRect countInGroup(count->mapTo(group, QPoint(0, 0)), count->size());
                EXPECT_TRUE(group->rect().contains(countInGroup)) << "the count stays inside the group too";
                EXPECT_GE(count->contentsRect().width(), inked(count))
                    << count->contentsRect().width() << " px for the ink of " << count->text().toStdString();
                EXPECT_EQ(count->shownText().toStdString(), count->text().toStdString()) << "nothing is cut";

                const auto frames = screen.toolbar().toolbarLayout()->targetFrames();
                EXPECT_GE(frames[0].left(), 0) << "the capsule stays on the rope";
                EXPECT_LE(frames[0].right(), width);
                EXPECT_LE(frames[1].right() + 6, frames[selection.isEmpty() ? 3 : 2].left())
                    << "the title group keeps its spacing from the next item";
            }
        }
    }
    screen.model().setImporting(false);
}

TEST(ClotheslineView, InsetsTheCanvasPublishesItsHitAreasOnceAndFollowsTheChrome) {
    Screen screen(3);
    QList<QList<RopeHitRegion>> published;
    QObject::connect(screen.view->hitAreas(), &RopeHitAreas::changed,
                     [&](const QList<RopeHitRegion>& regions) { published.append(regions); });
    screen.view->hitAreas()->publish();
    const QList<RopeHitRegion> regions = screen.view->hitAreas()->published();
    ASSERT_EQ(regions.size(), 1) << "the toolbar's capsule";
    EXPECT_EQ(regions[0].rect, QRectF(screen.toolbar().capsule()->geometry()));
    EXPECT_FALSE(regions[0].photo);
    const QRect canvas = screen.view->canvasHost()->scrollView()->geometry();
    EXPECT_EQ(canvas, QRect(10, 60, 960, screen.view->height() - 66));

    // The same layout again publishes nothing new.
    const int count = screen.view->hitAreas()->publishCount();
    screen.view->resize(screen.view->size() + QSize(0, 1));
    screen.view->resize(screen.view->size() - QSize(0, 1));
    screen.settle();
    screen.view->hitAreas()->publish();
    EXPECT_EQ(screen.view->hitAreas()->publishCount(), count);

    // Collapsed: no toolbar, the canvas 8 below the top, and no region left.
    screen.model().clotheslineChrome().request(true, false, true);
    screen.settle();
    EXPECT_FALSE(shown(&screen.toolbar()));
    EXPECT_EQ(screen.view->canvasHost()->scrollView()->y(), 8);
    screen.view->hitAreas()->publish();
    EXPECT_TRUE(screen.view->hitAreas()->published().isEmpty());

    // Without reduced motion the toolbar fades in after the window grew, taking no clicks until
    // it shows; with it, it is there at once.
    ClotheslineChrome& chrome = screen.model().clotheslineChrome();
    chrome.request(true, true, false);
    // The fade starts a turn of the event loop later and advances a turn after that: looked at
    // turn by turn, it is seen begun and not ended however busy the machine.
    for (int turn = 0; turn < 100 && chrome.opacity() < 1; ++turn)
        QCoreApplication::processEvents();
    EXPECT_TRUE(chrome.expanded());
    EXPECT_LT(screen.view->toolbarOpacity(), 1) << "the fade has begun, not ended";
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen.view->toolbarOpacity() == 1; }, 10000));
    EXPECT_TRUE(shown(&screen.toolbar()));
    chrome.request(true, false, true);
    screen.settle();
    EXPECT_FALSE(shown(&screen.toolbar()));
    chrome.request(true, true, true);
    screen.settle();
    EXPECT_EQ(screen.view->toolbarOpacity(), 1);
    EXPECT_TRUE(shown(&screen.toolbar()));
}

TEST(ClotheslineView, AnswersSelectAllAndPreviewAndPrunesPrintsThatLeaveTheRope) {
    Screen screen(3);
    QList<Photo> previewed;
    screen.view->setPreviewPresenter([&](const Photo& photo) { previewed.append(photo); });
    const QList<Photo> hanging = screen.view->hanging();
    ASSERT_EQ(hanging.size(), 3);

    screen.model().setSelectionRequest(screen.model().selectionRequest() + 1);
    EXPECT_EQ(screen.model().selectedIDs().size(), 3) << "the request selects all";
    screen.model().setSelectionRequest(screen.model().selectionRequest() + 1);
    EXPECT_TRUE(screen.model().selectedIDs().isEmpty()) << "and then ends the selection";

    // A preview selects an unselected print; while it shows, select-all changes nothing.
    screen.view->preview(hanging[2]);
    ASSERT_EQ(previewed.size(), 1);
    EXPECT_TRUE(screen.model().selectedIDs().contains(hanging[2].id));
    screen.model().setSelectionRequest(screen.model().selectionRequest() + 1);
    EXPECT_EQ(screen.model().selectedIDs().size(), 1);
    screen.view->closePreview();

    // Not while deleting.
    screen.model().setDeleting(true);
    screen.view->preview(hanging[0]);
    EXPECT_EQ(previewed.size(), 1);
    EXPECT_FALSE(screen.model().selectedIDs().contains(hanging[0].id));
    screen.model().setDeleting(false);

    // In selection mode a click adds the print; outside it the print alone is selected.
    screen.view->activate(hanging[0]);
    EXPECT_EQ(screen.model().selectedIDs(), (QSet<QString>{hanging[0].id, hanging[2].id}));
    screen.model().endSelection();
    screen.view->activate(hanging[0]);
    EXPECT_EQ(screen.model().selectedIDs(), QSet<QString>{hanging[0].id});

    // A print taken down leaves the selection in the same pass.
    screen.model().setSelection(hanging);
    screen.model().setHanging({hanging[1]}, false, RopeHistoryRecording::untracked);
    EXPECT_FALSE(screen.model().selectedIDs().contains(hanging[1].id));
    EXPECT_EQ(screen.model().selectedIDs().size(), 2);
}

// The rope's messages name files; a name that looks like markup shows as it is written.
TEST(ClotheslineErrorBanner, ShowsFileNamesAsWritten) {
    ClotheslineErrorBanner banner;
    const QString message = "<b>海边</b> & <i>山</i>.jpg 已移动或被替换。";
    banner.setText(message);
    EXPECT_TRUE(test::shownTexts(banner).contains(message))
        << test::shownTexts(banner).join('|').toStdString();
}
