#include "canvas/ClotheslineAccessiblePhoto.h"
#include "canvas/PegTestBase.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineF>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// One synthesised mouse event on the canvas, at canvas coordinates.
void send(QWidget& canvas, QEvent::Type type, QPointF pos, Qt::KeyboardModifiers modifiers = {}) {
    const bool down = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = down || type == QEvent::MouseMove ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, pos, canvas.mapToGlobal(pos), button, held, modifiers);
    QApplication::sendEvent(&canvas, &event);
}

void click(QWidget& canvas, QPointF pos, Qt::KeyboardModifiers modifiers = {}) {
    send(canvas, QEvent::MouseButtonPress, pos, modifiers);
    send(canvas, QEvent::MouseButtonRelease, pos, modifiers);
}

struct ShownMenu {
    QStringList titles;
    QList<bool> enabled;
};

// Records each menu instead of showing it, and triggers the item named `choose` when set.
struct MenuRecorder {
    QList<ShownMenu> shown;
    QString choose;

    void install(ClotheslineCanvasView& canvas) {
        canvas.setMenuPresenter([this](QMenu& menu, QPoint) {
            ShownMenu entry;
            for (QAction* action : menu.actions()) {
                entry.titles.append(action->text());
                entry.enabled.append(action->isEnabled());
                if (!choose.isEmpty() && action->text() == choose)
                    action->trigger();
            }
            shown.append(entry);
        });
    }
};

void rightClick(ClotheslineCanvasView& canvas, QPointF pos) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos.toPoint(), canvas.mapToGlobal(pos.toPoint()));
    QApplication::sendEvent(&canvas, &event);
}

class ClotheslineCanvasPressTest : public PegTestBase {
protected:
    // Three prints well apart, at rest, and their photos in model order.
    void hangThree(Rope& rope) {
        rope.place({{0, 0.1}, {1, 0.5}, {2, 0.9}});
        rope.show();
        ASSERT_TRUE(rope.waitForRest());
        ASSERT_EQ(rope.canvas().photos().size(), 3);
    }
    static QPointF paperCentre(ClotheslineCanvasView& canvas, const Photo& photo) {
        return canvas.printFrame(photo)->topLeft() + canvas.geometry(photo).paperPath.boundingRect().center();
    }
    // The rope halfway between the pegs of two prints placed at x and 2x.
    static QPointF ropeBetweenPrints(ClotheslineCanvasView& canvas, double x = 0.3) {
        const ClotheslineRopeGeometry geometry = canvas.ropeGeometry();
        return geometry.pointAlong(geometry.supportFraction(x));
    }
};

} // namespace

TEST_F(ClotheslineCanvasPressTest, ClicksSelectModifiersExtendAndADoubleClickPreviews) {
    Rope rope(3);
    hangThree(rope);
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    const Photo a = model.photos().at(0), b = model.photos().at(1), c = model.photos().at(2);

    click(canvas, paperCentre(canvas, a));
    EXPECT_EQ(model.selectedIDs(), QSet<QString>{a.id});
    EXPECT_TRUE(model.interactions().isUsed(a)) << "a press ends the new-photo notice";
    EXPECT_EQ(canvas.drawingOrder().last().id, a.id) << "a pressed print comes to the front";
    EXPECT_FALSE(canvas.pressPhoto()) << "the release ends the press";

    click(canvas, paperCentre(canvas, b), Qt::ShiftModifier);
    EXPECT_EQ(model.selectedIDs(), (QSet<QString>{a.id, b.id}));
    click(canvas, paperCentre(canvas, a), Qt::ControlModifier);
    EXPECT_EQ(model.selectedIDs(), QSet<QString>{b.id}) << "Control-click takes a selected print out";
    // While prints are selected a plain click toggles as well, as the rope's selection mode does.
    click(canvas, paperCentre(canvas, c));
    EXPECT_EQ(model.selectedIDs(), (QSet<QString>{b.id, c.id}));

    // A press that is released away from its print is no click.
    send(canvas, QEvent::MouseButtonPress, paperCentre(canvas, a));
    send(canvas, QEvent::MouseButtonRelease, QPointF(canvas.width() / 2.0, canvas.height() - 4));
    EXPECT_EQ(model.selectedIDs(), (QSet<QString>{b.id, c.id}));
    send(canvas, QEvent::MouseButtonPress, paperCentre(canvas, a));
    send(canvas, QEvent::MouseButtonRelease, paperCentre(canvas, b));
    EXPECT_EQ(model.selectedIDs(), (QSet<QString>{b.id, c.id})) << "nor one released over another print";

    QStringList selects, previews;
    rope.host->setOnSelect([&](const Photo& photo) { selects.append(photo.id); });
    rope.host->setOnPreview([&](const Photo& photo) { previews.append(photo.id); });
    rope.host->updateCanvas();
    const QPointF onA = paperCentre(canvas, a);
    send(canvas, QEvent::MouseButtonPress, onA);
    send(canvas, QEvent::MouseButtonRelease, onA);
    send(canvas, QEvent::MouseButtonDblClick, onA);
    send(canvas, QEvent::MouseButtonRelease, onA);
    EXPECT_EQ(selects, QStringList{a.id}) << "the first click of a double click selects";
    EXPECT_EQ(previews, QStringList{a.id});
}

TEST_F(ClotheslineCanvasPressTest,
       AReleaseInsideTheIndicatorOutlineStillCountsAndTheDragWaitsForItsThreshold) {
    Rope rope(3);
    hangThree(rope);
    ClotheslineCanvasView& canvas = rope.canvas();
    const Photo b = rope.model->photos().at(1);
    QStringList selects;
    rope.host->setOnSelect([&](const Photo& photo) { selects.append(photo.id); });
    rope.host->updateCanvas();

    // A point on the arrival tag beside the paper: it takes the press only while the print is new.
    const PolaroidGeometry g = canvas.geometry(b);
    const QPointF origin = canvas.printFrame(b)->topLeft();
    const double u = g.unit();
    const QPointF onTag = origin + g.paperTransform.map(g.paperRect.topLeft() + QPointF(-4 * u, -4 * u));
    ASSERT_FALSE(g.contains(onTag - origin));
    ASSERT_TRUE(g.indicatorPath(false).contains(onTag - origin));
    ASSERT_EQ(canvas.photo(onTag)->id, b.id);

    send(canvas, QEvent::MouseButtonPress, paperCentre(canvas, b));
    ASSERT_TRUE(canvas.pressIndicatorPath());
    EXPECT_FALSE(canvas.photo(onTag)) << "the press acknowledged the print, so its tag is gone";
    send(canvas, QEvent::MouseButtonRelease, onTag);
    EXPECT_EQ(selects, QStringList{b.id});

    // Once acknowledged the print has no outline left to catch a release beside it.
    send(canvas, QEvent::MouseButtonPress, paperCentre(canvas, b));
    EXPECT_FALSE(canvas.pressIndicatorPath());
    send(canvas, QEvent::MouseButtonRelease, onTag);
    EXPECT_EQ(selects.size(), 1);

    struct Start {
        QString id;
        bool onPeg;
    };
    QList<Start> starts;
    canvas.setDragStart([&](const Photo& leader, bool onPeg, QPointF, QPointF) {
        starts.append({leader.id, onPeg});
        return false;
    });
    const QPointF centre = paperCentre(canvas, b);
    send(canvas, QEvent::MouseButtonPress, centre);
    EXPECT_FALSE(canvas.pressedPeg());
    send(canvas, QEvent::MouseMove, centre + QPointF(3, 4));
    EXPECT_TRUE(starts.isEmpty()) << "exactly 5 points is not yet a drag";
    send(canvas, QEvent::MouseMove, centre + QPointF(3.01, 4));
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts[0].id, b.id);
    EXPECT_FALSE(starts[0].onPeg);
    send(canvas, QEvent::MouseMove, centre + QPointF(8, 4));
    EXPECT_EQ(starts.size(), 2) << "a drag that did not start is tried again on the next move";
    send(canvas, QEvent::MouseButtonRelease, centre);

    const QPointF peg = origin + g.pegPath.boundingRect().center();
    ASSERT_EQ(canvas.photo(peg)->id, b.id);
    send(canvas, QEvent::MouseButtonPress, peg);
    EXPECT_TRUE(canvas.pressedPeg());
    send(canvas, QEvent::MouseMove, peg + QPointF(0, 9));
    ASSERT_EQ(starts.size(), 3);
    EXPECT_TRUE(starts[2].onPeg);
    send(canvas, QEvent::MouseButtonRelease, peg + QPointF(0, 9));
}

TEST_F(ClotheslineCanvasPressTest, KnotsResizeTheWindowEscapeRestoresItAndTheStrandMovesIt) {
    Rope rope(2);
    rope.place({{0, 0.3}, {1, 0.7}});
    rope.show();
    ASSERT_TRUE(rope.waitForRest());
    ClotheslineCanvasView& canvas = rope.canvas();
    FakeRopeWindowPort& port = *rope.port;
    const auto knots = canvas.ropeGeometry().knotRects();
    const int startWidth = rope.window->width();

    const QPointF right = knots[1].center();
    ASSERT_FALSE(canvas.photo(right));
    send(canvas, QEvent::MouseButtonPress, right);
    ASSERT_TRUE(port.knotResizing);
    EXPECT_EQ(port.knotEdge, ClotheslineKnotEdge::right);
    EXPECT_FALSE(canvas.pressPhoto());
    send(canvas, QEvent::MouseMove, right + QPointF(40, 3));
    EXPECT_EQ(rope.window->width(), startWidth + 40);
    send(canvas, QEvent::MouseButtonRelease, right + QPointF(40, 3));
    EXPECT_FALSE(port.knotResizing);
    EXPECT_FALSE(port.lastKnotResizeCancelled);
    EXPECT_EQ(rope.window->width(), startWidth + 40) << "a finished resize keeps the new width";

    const int widened = rope.window->width();
    const QPointF left = canvas.ropeGeometry().knotRects()[0].center();
    send(canvas, QEvent::MouseButtonPress, left);
    ASSERT_TRUE(port.knotResizing);
    EXPECT_EQ(port.knotEdge, ClotheslineKnotEdge::left);
    send(canvas, QEvent::MouseMove, left - QPointF(30, 0));
    EXPECT_EQ(rope.window->width(), widened + 30);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&canvas, &escape);
    EXPECT_TRUE(escape.isAccepted());
    EXPECT_TRUE(port.lastKnotResizeCancelled);
    EXPECT_EQ(rope.window->width(), widened) << "Escape puts the width back";
    const int finished = port.finishedKnotResizes;
    send(canvas, QEvent::MouseMove, left - QPointF(60, 0));
    send(canvas, QEvent::MouseButtonRelease, left - QPointF(60, 0));
    EXPECT_EQ(port.finishedKnotResizes, finished) << "the cancelled resize does not finish again";
    EXPECT_EQ(rope.window->width(), widened);
    QKeyEvent idle(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&canvas, &idle);
    EXPECT_FALSE(idle.isAccepted()) << "with nothing to cancel Escape goes on to the window";

    const QPointF strand = ropeBetweenPrints(canvas, 0.5);
    ASSERT_FALSE(canvas.photo(strand));
    send(canvas, QEvent::MouseButtonPress, strand);
    ASSERT_EQ(port.moves.size(), 1);
    EXPECT_LT(QLineF(port.moves[0], canvas.mapToGlobal(strand)).length(), 1);
    send(canvas, QEvent::MouseButtonRelease, strand);

    // No knot resize while the large preview shows: the press is an empty press.
    rope.host->setPreviewing(true);
    rope.settleUpdates();
    ASSERT_TRUE(canvas.previewing());
    send(canvas, QEvent::MouseButtonPress, canvas.ropeGeometry().knotRects()[1].center());
    EXPECT_FALSE(port.knotResizing);
    send(canvas, QEvent::MouseButtonRelease, canvas.ropeGeometry().knotRects()[1].center());
}

TEST_F(ClotheslineCanvasPressTest, TheRopeMenuOpensOnTheStrokeAndThePhotoMenuOnAPrint) {
    Rope rope(3);
    hangThree(rope);
    ClotheslineCanvasView& canvas = rope.canvas();
    MenuRecorder menus;
    menus.install(canvas);

    ASSERT_FALSE(canvas.photo(ropeBetweenPrints(canvas)));
    rightClick(canvas, ropeBetweenPrints(canvas));
    ASSERT_EQ(menus.shown.size(), 1);
    EXPECT_EQ(menus.shown[0].titles, (QStringList{"普通窗口", "设置…"}));
    EXPECT_FALSE(canvas.contextPhoto());

    const QRectF knot = canvas.ropeGeometry().knotRects()[0];
    // The corners the strand does not pass through: above it, and outside its end.
    for (const QPointF corner : {knot.topLeft() + QPointF(1, 1), knot.topRight() + QPointF(-1, 1),
                                 knot.bottomLeft() + QPointF(1, -1)}) {
        ASSERT_TRUE(canvas.ropeGeometry().knotEdge(corner));
        rightClick(canvas, corner);
    }
    rightClick(canvas, QPointF(canvas.width() / 2.0, 4));
    EXPECT_EQ(menus.shown.size(), 1) << "no menu at a knot's corner or off the rope";

    rope.host->setPreviewing(true);
    rope.settleUpdates();
    rightClick(canvas, ropeBetweenPrints(canvas));
    EXPECT_EQ(menus.shown.size(), 1) << "no rope menu while the preview shows";
    rope.host->setPreviewing(false);
    rope.settleUpdates();

    const Photo b = rope.model->photos().at(1);
    rightClick(canvas, paperCentre(canvas, b));
    ASSERT_EQ(menus.shown.size(), 2);
    EXPECT_EQ(menus.shown[1].titles, (QStringList{"查看大图", "属性", "复制", "从晾衣绳取下",
                                                  "用默认应用打开", "在文件管理器中显示"}));
    EXPECT_EQ(canvas.contextPhoto()->id, b.id);
    EXPECT_TRUE(rope.model->interactions().isUsed(b)) << "the menu ends the print's new-photo notice";
}

TEST_F(ClotheslineCanvasPressTest, ThePhotoMenuEnablesItsItemsByTheModelStateAndActsOnItsPrint) {
    Rope rope(3);
    hangThree(rope);
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    MenuRecorder menus;
    menus.install(canvas);
    const Photo a = model.photos().at(0), b = model.photos().at(1);

    struct Case {
        const char* state;
        bool deleting;
        bool importing;
        QList<bool> enabled;
    };
    const Case cases[] = {
        {"idle", false, false, {true, true, true, true, true, true}},
        {"deleting", true, false, {false, false, false, false, true, true}},
        {"importing", false, true, {true, true, false, false, true, true}},
    };
    for (const Case& c : cases) {
        model.setDeleting(c.deleting);
        model.setImporting(c.importing);
        rightClick(canvas, paperCentre(canvas, b));
        ASSERT_FALSE(menus.shown.isEmpty());
        EXPECT_EQ(menus.shown.last().enabled, c.enabled) << c.state;
    }
    model.setDeleting(false);
    model.setImporting(false);

    QStringList previews, opened, revealed;
    rope.host->setOnPreview([&](const Photo& photo) { previews.append(photo.id); });
    rope.host->updateCanvas();
    bool opens = false;
    canvas.setOpenFile([&](const QString& path) {
        opened.append(path);
        return opens;
    });
    canvas.setRevealFile([&](const QString& path) { revealed.append(path); });

    const auto choose = [&](const Photo& photo, const char* title) {
        menus.choose = QString::fromUtf8(title);
        rightClick(canvas, paperCentre(canvas, photo));
        menus.choose.clear();
    };
    choose(a, "查看大图");
    EXPECT_EQ(previews, QStringList{a.id});
    choose(a, "在文件管理器中显示");
    EXPECT_EQ(revealed, QStringList{a.path});

    choose(a, "用默认应用打开");
    EXPECT_EQ(opened, QStringList{a.path});
    EXPECT_FALSE(model.usedCopyIDs().contains(a.recordKey())) << "a failed open marks nothing";
    opens = true;
    choose(a, "用默认应用打开");
    EXPECT_TRUE(model.usedCopyIDs().contains(a.recordKey())) << "an opened photo has left the application";

    // Copy takes the selection when its print is selected, and only its print otherwise.
    const Photo c = model.photos().at(2);
    const auto copiedFiles = [] {
        QSet<QString> files;
        for (const QUrl& url : QGuiApplication::clipboard()->mimeData()->urls())
            files.insert(url.toLocalFile());
        return files;
    };
    click(canvas, paperCentre(canvas, a));
    click(canvas, paperCentre(canvas, c), Qt::ShiftModifier);
    ASSERT_EQ(model.selectedIDs(), (QSet<QString>{a.id, c.id}));
    choose(b, "复制");
    EXPECT_EQ(copiedFiles(), QSet<QString>{b.path}) << "an unselected print copies itself alone";
    choose(a, "复制");
    EXPECT_EQ(copiedFiles(), (QSet<QString>{a.path, c.path}));

    choose(b, "从晾衣绳取下");
    EXPECT_FALSE(model.hangs(b));
    ASSERT_EQ(model.undoHistory().size(), 1) << "the take-down can be undone";
    rope.settleUpdates();
    EXPECT_EQ(canvas.photos().size(), 2);
}

TEST_F(ClotheslineCanvasPressTest, TheAccessibleTreeHasOneLabelledButtonPerPrint) {
    EXPECT_EQ(ClotheslineCanvasView::accessibleLabel(Photo{.path = "/x/新.png"}, true, true),
              "新照片，已选，在绳上，新.png");
    Rope rope(3);
    hangThree(rope);
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    const Photo a = model.photos().at(0), b = model.photos().at(1), c = model.photos().at(2);
    model.acknowledge({a});
    model.setSelection({b});
    rope.settleUpdates();

    QStringList selects, previews;
    int settings = 0, normal = 0;
    rope.host->setOnSelect([&](const Photo& photo) { selects.append(photo.id); });
    rope.host->setOnPreview([&](const Photo& photo) { previews.append(photo.id); });
    rope.host->setOpenSettings([&] { ++settings; });
    rope.host->setSwitchToNormal([&] { ++normal; });
    rope.host->updateCanvas();

    QAccessibleInterface* group = QAccessible::queryAccessibleInterface(&canvas);
    ASSERT_TRUE(group);
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->text(QAccessible::Help), "右键空白处：普通窗口、设置");
    ASSERT_EQ(group->childCount(), 3);

    QStringList names;
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* element = group->child(i);
        ASSERT_TRUE(element);
        EXPECT_EQ(element->role(), QAccessible::Button);
        EXPECT_EQ(element->text(QAccessible::Help), "双击查看大图；右键更多操作");
        EXPECT_EQ(element->parent(), group);
        EXPECT_EQ(group->indexOfChild(element), i);
        EXPECT_EQ(group->child(i), element) << "an element is kept for its print";
        names.append(element->text(QAccessible::Name));
        const Photo& photo = canvas.drawingOrder().at(i);
        const QRectF frame = *canvas.printFrame(photo) & canvas.visibleRect();
        EXPECT_EQ(element->rect(), QRectF(canvas.mapToGlobal(frame.topLeft()), frame.size()).toAlignedRect());
    }
    QStringList expected;
    for (const Photo& photo : canvas.drawingOrder())
        expected.append(photo.id == a.id   ? "在绳上，" + a.name()
                        : photo.id == b.id ? "已选，在绳上，" + b.name()
                                           : "新照片，在绳上，" + c.name());
    EXPECT_EQ(names, expected);

    const qsizetype indexOfC = canvas.drawingOrder().indexOf(c);
    QAccessibleActionInterface* actions = group->child(int(indexOfC))->actionInterface();
    ASSERT_TRUE(actions);
    EXPECT_EQ(actions->actionNames(),
              (QStringList{QAccessibleActionInterface::pressAction(), QStringLiteral("查看大图")}));
    actions->doAction(QAccessibleActionInterface::pressAction());
    actions->doAction(QStringLiteral("查看大图"));
    EXPECT_EQ(selects, QStringList{c.id});
    EXPECT_EQ(previews, QStringList{c.id});

    QAccessibleActionInterface* ropeActions = group->actionInterface();
    ASSERT_TRUE(ropeActions);
    EXPECT_TRUE(ropeActions->actionNames().contains("普通窗口"));
    EXPECT_TRUE(ropeActions->actionNames().contains("设置"));
    ropeActions->doAction("普通窗口");
    ropeActions->doAction("设置");
    EXPECT_EQ(normal, 1);
    EXPECT_EQ(settings, 1);
    model.setImporting(true);
    ropeActions->doAction("普通窗口");
    ropeActions->doAction("设置");
    EXPECT_EQ(normal, 1) << "no switch to the grid while importing";
    EXPECT_EQ(settings, 2);
    model.setImporting(false);

    ASSERT_TRUE(model.setHanging({a}, false, RopeHistoryRecording::untracked));
    rope.settleUpdates();
    EXPECT_EQ(group->childCount(), 2) << "a print taken down leaves the tree";
}
