#include "GridFixture.h"

#include "dragdrop/PhotoDragPayload.h"
#include "grid/GalleryHeader.h"
#include "grid/GridErrorBanner.h"
#include "grid/PhotoGridLayout.h"
#include "grid/PhotoGridView.h"
#include "support/ShownText.h"

#include <QContextMenuEvent>
#include <QPushButton>
#include <QScrollBar>

namespace vennimo::test {
namespace {

QStringList selectedNames(Grid& grid) {
    QStringList names;
    for (const Photo& photo : grid.model->selectedPhotos())
        names.append(photo.name());
    names.sort();
    return names;
}

TEST(GridLayout, ColumnsGrowFromTheNarrowestWindowAndStopAtTheirWidestCentred) {
    const PhotoGridLayout narrow(840, 209, 10);
    EXPECT_EQ(narrow.columns, 3);
    EXPECT_NEAR(narrow.columnWidth, (840 - 48 - 28) / 3.0, 1e-9);
    EXPECT_EQ(narrow.rows(), 4);
    EXPECT_DOUBLE_EQ(narrow.contentHeight(), 48 + 4 * 209 + 3 * 18);

    // Six columns of 200 need 1,322 points; at 1,400 they widen to share the room.
    const PhotoGridLayout wide(1400, 209, 10);
    EXPECT_EQ(wide.columns, 6);
    EXPECT_GT(wide.columnWidth, 200);
    // Two cards in a window far wider than two columns: capped at 300 and centred.
    const PhotoGridLayout capped(700, 209, 2);
    EXPECT_EQ(capped.columns, 3);
    const PhotoGridLayout single(300, 209, 1);
    EXPECT_EQ(single.columns, 1);
    EXPECT_DOUBLE_EQ(single.columnWidth, 252);

    // Hit tests fall in cards, not in the gaps or past the last card.
    const QRectF second = narrow.cardRect(1);
    EXPECT_EQ(narrow.indexAt(second.center()), 1);
    EXPECT_EQ(narrow.indexAt(QPointF(second.left() - 7, second.center().y())), -1);
    EXPECT_EQ(narrow.indexAt(QPointF(second.center().x(), second.bottom() + 9)), -1);
    EXPECT_EQ(narrow.indexAt(narrow.cardRect(3).center() + QPointF(0, 3 * (209 + 18))), -1);
    EXPECT_EQ(narrow.indexAt(narrow.cardRect(9).center()), 9);
    EXPECT_EQ(narrow.indexAt(narrow.cardRect(10).center()), -1) << "the free place just after the last card";
    // The rows a band of the content reaches.
    EXPECT_EQ(narrow.range(0, 100), std::make_pair(0, 3));
    const auto gap = narrow.range(24 + 209 + 1, 24 + 209 + 17);
    EXPECT_EQ(gap.first, gap.second) << "a band inside the gap between rows reaches no card";
    EXPECT_EQ(narrow.range(240, 500), std::make_pair(3, 9));
    EXPECT_EQ(narrow.range(0, 100000), std::make_pair(0, 10));
}

TEST(NormalGalleryView, SearchNarrowsTheGridAndPrunesTheSelection) {
    Grid grid({"beach.png", "Beach-sunset.jpg", "city.png", "forest.jpg"});
    ASSERT_EQ(grid.model->photos().size(), 4);
    EXPECT_EQ(grid.view->header()->countLabel(), QString::fromUtf8("4 张"));

    grid.view->setQuery("BEACH");
    EXPECT_EQ(grid.visibleNames(), QStringList({"Beach-sunset.jpg", "beach.png"}));
    EXPECT_EQ(grid.view->grid()->photos().size(), 2);
    // Every word must occur; the format is part of the searched text.
    grid.view->setQuery("beach\tpng");
    EXPECT_EQ(grid.visibleNames(), QStringList({"beach.png"}));
    // White space alone has no words and matches everything.
    grid.view->setQuery(" \n ");
    EXPECT_EQ(grid.visibleNames().size(), 4);
    // The count names all photos, not the visible ones.
    EXPECT_EQ(grid.view->header()->countLabel(), QString::fromUtf8("4 张"));

    grid.model->setSelection({grid.photo("city.png"), grid.photo("beach.png")});
    grid.view->setQuery("beach");
    EXPECT_EQ(selectedNames(grid), QStringList({"beach.png"}));
    EXPECT_TRUE(grid.model->selectionMode());
    grid.view->setQuery("forest");
    EXPECT_TRUE(grid.model->selectedIDs().isEmpty());
    EXPECT_FALSE(grid.model->selectionMode()) << "no selected photo left visible ends selection mode";

    grid.view->setQuery("nothing-like-this");
    EXPECT_EQ(grid.view->emptyText(), QString::fromUtf8("无匹配"));
    grid.view->setQuery("");
    EXPECT_EQ(grid.view->emptyText(), std::nullopt);

    // A photo gone from the model leaves the selection too.
    grid.model->setSelection({grid.photo("city.png"), grid.photo("forest.jpg")});
    ASSERT_TRUE(QFile::remove(grid.source + "/city.png"));
    grid.model->refresh(std::nullopt, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.model->photos().size() == 3; }));
    EXPECT_EQ(selectedNames(grid), QStringList({"forest.jpg"}));
}

TEST(NormalGalleryView, AnEmptyLibraryShowsNoPhotosAndTheSavingText) {
    Grid grid({});
    EXPECT_EQ(grid.view->header()->countLabel(), QString::fromUtf8("0 张"));
    EXPECT_EQ(grid.view->emptyText(), QString::fromUtf8("还没有照片"));
    grid.model->setImporting(true);
    EXPECT_EQ(grid.view->header()->countLabel(), QString::fromUtf8("正在保存…"));
    grid.model->setImporting(false);
    grid.add("first.png");
    EXPECT_EQ(grid.view->emptyText(), std::nullopt);
    EXPECT_EQ(grid.view->header()->countLabel(), QString::fromUtf8("1 张"));
}

TEST(NormalGalleryView, ArrivalsMoveAnIdleGridAndOtherwiseRaiseTheNotice) {
    QStringList names;
    for (int i = 0; i < 24; ++i)
        names.append(QString("p%1.png").arg(i, 2, 10, QChar('0')));
    Grid grid(names);
    QPushButton* notice = grid.view->arrivalNotice();

    // At the top with nothing going on the grid moves to the first visible photo, also under
    // a search of white space only.
    grid.view->setQuery("  ");
    grid.add("new-1.png");
    EXPECT_FALSE(grid.view->pendingArrival());
    ASSERT_TRUE(grid.view->scrollPhotoID().has_value());
    EXPECT_EQ(*grid.view->scrollPhotoID(), grid.view->filtered().first().id);
    EXPECT_FALSE(notice->isVisible());

    // A search in force: the notice instead.
    grid.view->setQuery("p0");
    grid.add("new-2.png");
    EXPECT_TRUE(grid.view->pendingArrival());
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), QString::fromUtf8("有新照片，点击查看"));
    // Disabled while the model is busy.
    grid.model->setDeleting(true);
    EXPECT_FALSE(notice->isEnabled());
    grid.model->setDeleting(false);
    EXPECT_TRUE(notice->isEnabled());

    grid.model->setSelection({grid.view->filtered().first()});
    notice->click();
    EXPECT_FALSE(grid.view->pendingArrival());
    EXPECT_FALSE(notice->isVisible());
    EXPECT_TRUE(grid.view->query().isEmpty());
    EXPECT_FALSE(grid.model->selectionMode()) << "the notice ends the selection";
    EXPECT_EQ(*grid.view->scrollPhotoID(), grid.model->photos().first().id);

    // Selection mode, an open preview and a scrolled grid each hold the grid where it is.
    grid.model->setSelection({grid.model->photos().first()});
    grid.add("new-3.png");
    EXPECT_TRUE(grid.view->pendingArrival());
    grid.view->revealArrivals();

    grid.view->preview(grid.model->photos().at(2));
    ASSERT_TRUE(grid.view->previewPhoto().has_value());
    grid.add("new-4.png");
    EXPECT_TRUE(grid.view->pendingArrival());
    grid.view->setPreviewPhoto(std::nullopt);
    grid.view->revealArrivals();
    // The reveal scrolls from the next turn of the event loop; the scroll below must come after
    // it has ended, or it would bring the grid back to the top under an arrival a busy machine
    // delivers late.
    QCoreApplication::processEvents();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return grid.view->isAtTop() && !grid.view->grid()->isScrollingToTop(); }));

    QScrollBar* bar = grid.view->grid()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 20);
    bar->setValue(9);
    EXPECT_FALSE(grid.view->isAtTop()) << "more than 8 points down is not at the top";
    grid.add("new-5.png");
    EXPECT_TRUE(grid.view->pendingArrival());
    // The notice scrolls back with a short animation.
    grid.view->revealArrivals();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 0; }, 10000));
    EXPECT_TRUE(grid.view->isAtTop());
}

TEST(NormalGalleryView, SelectAllIsIgnoredWhileAPreviewIsOpen) {
    Grid grid({"a.png", "b.png", "c.png", "d.jpg"});
    const Photo b = grid.photo("b.png");
    grid.view->preview(b);
    EXPECT_EQ(selectedNames(grid), QStringList({"b.png"})) << "opening a preview selects its photo";
    ASSERT_EQ(grid.view->previewPhoto()->id, b.id);

    grid.model->setSelectionRequest(grid.model->selectionRequest() + 1);
    EXPECT_EQ(selectedNames(grid), QStringList({"b.png"}));

    grid.view->setPreviewPhoto(std::nullopt);
    grid.view->setQuery("png");
    grid.model->setSelectionRequest(grid.model->selectionRequest() + 1);
    EXPECT_EQ(selectedNames(grid), QStringList({"a.png", "b.png", "c.png"})) << "every visible photo";
    grid.model->setSelectionRequest(grid.model->selectionRequest() + 1);
    EXPECT_FALSE(grid.model->selectionMode()) << "a second request with all selected ends the selection";

    // While deleting, the preview does not open.
    grid.model->setDeleting(true);
    grid.view->preview(grid.photo("c.png"));
    EXPECT_FALSE(grid.view->previewPhoto().has_value());
    grid.model->setDeleting(false);
    // While importing the model refuses the selection, and the preview still opens.
    grid.model->setImporting(true);
    grid.view->preview(grid.photo("c.png"));
    EXPECT_TRUE(grid.model->selectedIDs().isEmpty());
    EXPECT_EQ(grid.view->previewPhoto()->name(), "c.png");
    grid.model->setImporting(false);
}

TEST(NormalGalleryView, ClicksSelectDoubleClicksPreviewAndTheMenuFollowsTheBusyFlags) {
    Grid grid({"a.png", "b.png", "c.png"});
    PhotoGridView* view = grid.view->grid();
    QWidget* port = view->viewport();
    const auto centre = [&](int index) { return view->cardRectInViewport(index).center().toPoint(); };
    const Photo first = view->photos().at(0);
    const Photo second = view->photos().at(1);

    QTest::mouseClick(port, Qt::LeftButton, {}, centre(0));
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({first.id}));
    // In selection mode a click toggles.
    QTest::mouseClick(port, Qt::LeftButton, {}, centre(1));
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({first.id, second.id}));
    QTest::mouseClick(port, Qt::LeftButton, {}, centre(0));
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({second.id}));
    // A release away from the pressed card does nothing.
    QTest::mousePress(port, Qt::LeftButton, {}, centre(2));
    QTest::mouseRelease(port, Qt::LeftButton, {}, centre(1) + QPoint(3, 0));
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({second.id}));

    // What the X server delivers for a double click: a click, then a double-click press and
    // its release.
    QTest::mouseClick(port, Qt::LeftButton, {}, centre(2));
    QMouseEvent twice(QEvent::MouseButtonDblClick, centre(2), port->mapToGlobal(centre(2)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(port, &twice);
    QTest::mouseRelease(port, Qt::LeftButton, {}, centre(2));
    ASSERT_TRUE(grid.view->previewPhoto().has_value());
    EXPECT_EQ(grid.view->previewPhoto()->id, view->photos().at(2).id);
    grid.view->setPreviewPhoto(std::nullopt);

    const auto menuAt = [&](int index) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, centre(index), port->mapToGlobal(centre(index)));
        QCoreApplication::sendEvent(port, &event);
        QStringList items;
        for (QAction* action : grid.lastMenu->actions())
            items.append(action->text() + (action->isEnabled() ? "" : " (off)"));
        return items;
    };
    EXPECT_EQ(menuAt(0),
              QStringList({"查看大图", "复制", "在文件管理器中显示", "用默认应用打开", "从晾衣绳取下"}));
    grid.model->setHanging({first}, false, RopeHistoryRecording::untracked);
    EXPECT_EQ(menuAt(0).last(), "挂到晾衣绳");
    grid.model->setImporting(true);
    EXPECT_EQ(menuAt(0), QStringList({"查看大图", "复制 (off)", "在文件管理器中显示", "用默认应用打开",
                                      "挂到晾衣绳 (off)"}));
    grid.model->setImporting(false);
    grid.model->setDeleting(true);
    EXPECT_EQ(menuAt(0).first(), "查看大图 (off)");
    grid.model->setDeleting(false);
}

} // namespace
} // namespace vennimo::test

namespace vennimo::test {
namespace {

TEST(NormalGalleryView, DragsBeyondFivePointsCarryTheCardOrTheSelectionAsCopies) {
    Grid grid({"a.png", "b.png", "c.png"});
    QList<QStringList> started;
    Qt::DropAction answer = Qt::CopyAction;
    grid.view->setDragStarter([&](const PhotoDragPayload& payload, QWidget*, const QRectF&) {
        QStringList names;
        for (const Photo& photo : payload.photos())
            names.append(photo.name());
        started.append(names);
        return answer;
    });
    PhotoGridView* view = grid.view->grid();
    QWidget* port = view->viewport();
    const auto dragFrom = [&](int index, QPoint by) {
        const QPoint start = view->cardRectInViewport(index).center().toPoint();
        QTest::mousePress(port, Qt::LeftButton, {}, start);
        QMouseEvent move(QEvent::MouseMove, start + by, port->mapToGlobal(start + by), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(port, &move);
        QTest::mouseRelease(port, Qt::LeftButton, {}, start + by);
    };
    const Photo a = view->photos().at(0);

    dragFrom(0, QPoint(3, 4));
    EXPECT_TRUE(started.isEmpty()) << "five points is not yet a drag";
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({a.id})) << "it was a click";
    grid.model->endSelection();
    dragFrom(0, QPoint(4, 4));
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started.last(), QStringList({a.name()}));
    EXPECT_TRUE(grid.model->usedCopyIDs().contains(a.recordKey())) << "a copy left the application";
    EXPECT_TRUE(grid.model->selectedIDs().isEmpty()) << "a drag is no click";

    // A selected card in selection mode carries the whole selection, in display order.
    grid.model->setSelection({view->photos().at(2), view->photos().at(1)});
    answer = Qt::IgnoreAction;
    dragFrom(2, QPoint(0, 30));
    ASSERT_EQ(started.size(), 2);
    EXPECT_EQ(started.last(), QStringList({view->photos().at(1).name(), view->photos().at(2).name()}));
    EXPECT_FALSE(grid.model->usedCopyIDs().contains(view->photos().at(1).recordKey()))
        << "a drag nobody took copies nothing";
    // An unselected card carries itself alone.
    dragFrom(0, QPoint(0, 30));
    EXPECT_EQ(started.last(), QStringList({a.name()}));

    // A card whose file is gone starts nothing, and the next click still works.
    grid.model->endSelection();
    ASSERT_TRUE(QFile::remove(view->photos().at(0).path));
    dragFrom(0, QPoint(0, 30));
    EXPECT_EQ(started.size(), 3);
    QTest::mouseClick(port, Qt::LeftButton, {}, view->cardRectInViewport(1).center().toPoint());
    EXPECT_EQ(grid.model->selectedIDs(), QSet<QString>({view->photos().at(1).id}));
}

TEST(NormalGalleryView, APressWhoseCardWentAwayStartsNoDrag) {
    Grid grid({"ab.png", "ac.png", "bc.png"});
    int started = 0;
    grid.view->setDragStarter([&](const PhotoDragPayload&, QWidget*, const QRectF&) {
        ++started;
        return Qt::CopyAction;
    });
    PhotoGridView* view = grid.view->grid();
    QWidget* port = view->viewport();
    ASSERT_EQ(view->photos().size(), 3);
    const QString last = view->photos().at(2).name();
    // The letter both other names have and the last card's lacks.
    QString shared;
    for (const QChar letter : QStringLiteral("abc"))
        if (!last.contains(letter))
            shared = letter;

    // Pressed on the last card, which a search then hides: the press is one past the last card.
    const QPoint onLast = view->cardRectInViewport(2).center().toPoint();
    QTest::mousePress(port, Qt::LeftButton, {}, onLast);
    grid.view->setQuery(shared);
    ASSERT_EQ(view->photos().size(), 2);
    const QPoint away = onLast + QPoint(0, 30);
    QMouseEvent move(QEvent::MouseMove, away, port->mapToGlobal(away), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(port, &move);
    QTest::mouseRelease(port, Qt::LeftButton, {}, away);
    EXPECT_EQ(started, 0) << "no card to carry";
}

// The grid's messages name files; a name that looks like markup shows as it is written.
TEST(GridErrorBanner, ShowsFileNamesAsWritten) {
    GridErrorBanner banner;
    const QString message = "<b>海边</b> & <i>山</i>.jpg 已移动或被替换。";
    banner.setText(message);
    EXPECT_TRUE(shownTexts(banner).contains(message)) << shownTexts(banner).join('|').toStdString();
}

} // namespace
} // namespace vennimo::test
