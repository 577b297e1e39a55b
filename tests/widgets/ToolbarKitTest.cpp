#include "platform/ReduceMotion.h"
#include "widgets/ClotheslineToolbarGeometry.h"
#include "widgets/ClotheslineToolbarLayout.h"
#include "widgets/HoverHint.h"
#include "widgets/ToolbarIcon.h"

#include <QApplication>
#include <QEnterEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace vennimo;

namespace {

struct MotionOff {
    explicit MotionOff(bool reduced) {
        ReduceMotion::setReader([reduced] { return std::optional<bool>(reduced); });
    }
    ~MotionOff() { ReduceMotion::setReader({}); }
};

void enter(QWidget& widget) {
    QEnterEvent event(QPointF(2, 2), QPointF(2, 2), widget.mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(&widget, &event);
}

void leave(QWidget& widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&widget, &event);
}

} // namespace

TEST(ClotheslineToolbarGeometry, CentresTheCapsuleKeepsTheAnchorAndLeavesRoomOnTheLeft) {
    const QRectF bar(0, 8, 1200, 44);
    const ClotheslineToolbarGeometry bare{0, 0, 100, 150};
    const auto frames = bare.frames(bar);
    EXPECT_DOUBLE_EQ(frames[0].center().x(), bar.center().x()) << "the capsule is centred";
    EXPECT_DOUBLE_EQ(frames[1].width(), 175);
    EXPECT_DOUBLE_EQ(frames[1].right() + 6, frames[3].left()) << "absent items take no spacing";
    EXPECT_DOUBLE_EQ(frames[5].left(), frames[3].right() + 6);
    EXPECT_DOUBLE_EQ(frames[0].left(), frames[1].left() - 15);
    EXPECT_DOUBLE_EQ(frames[0].right(), frames[5].right() + 15);
    for (const QRectF& f : frames) {
        EXPECT_DOUBLE_EQ(f.top(), 8);
        EXPECT_DOUBLE_EQ(f.height(), 44);
    }

    // A left item 100 wide keeps the anchor and grows the capsule 106 to the left; a right one
    // grows it to the right only.
    const auto left = ClotheslineToolbarGeometry{100, 0, 100, 150}.frames(bar);
    EXPECT_DOUBLE_EQ(left[3].left(), frames[3].left());
    EXPECT_DOUBLE_EQ(left[0].left(), frames[0].left() - 106);
    EXPECT_DOUBLE_EQ(left[0].right(), frames[0].right());
    EXPECT_DOUBLE_EQ(left[2].right() + 6, left[3].left());
    const auto right = ClotheslineToolbarGeometry{0, 80, 100, 150}.frames(bar);
    EXPECT_DOUBLE_EQ(right[3].left(), frames[3].left());
    EXPECT_DOUBLE_EQ(right[0].left(), frames[0].left());
    EXPECT_DOUBLE_EQ(right[0].right(), frames[0].right() + 86);
    EXPECT_DOUBLE_EQ(right[4].left(), right[3].right() + 6);

    // In a narrow bar at 0 the anchor stays right of max(a, 240) + 217.
    for (const double a : {0.0, 120.0, 300.0}) {
        const auto narrow = ClotheslineToolbarGeometry{a, 60, 90, 200}.frames(QRectF(0, 0, 500, 44));
        EXPECT_DOUBLE_EQ(narrow[3].left(), std::max(a, 240.0) + 217) << a;
        EXPECT_GE(narrow[0].left(), 0) << a;
    }
    // A leading item that needs 192 grows the centred capsule by 17; in a narrow bar the anchor
    // moves right by as much, so the capsule's left edge keeps its place.
    const auto grown = ClotheslineToolbarGeometry{0, 0, 100, 150, 192}.frames(bar);
    EXPECT_DOUBLE_EQ(grown[1].width(), 192);
    EXPECT_DOUBLE_EQ(grown[0].width(), frames[0].width() + 17);
    EXPECT_DOUBLE_EQ(grown[0].center().x(), bar.center().x());
    EXPECT_DOUBLE_EQ(grown[1].right() + 6, grown[3].left());
    const QRectF narrowBar(0, 0, 500, 44);
    const auto tight = ClotheslineToolbarGeometry{120, 60, 90, 200}.frames(narrowBar);
    const auto tightGrown = ClotheslineToolbarGeometry{120, 60, 90, 200, 192}.frames(narrowBar);
    EXPECT_DOUBLE_EQ(tightGrown[3].left(), tight[3].left() + 17);
    EXPECT_DOUBLE_EQ(tightGrown[0].left(), tight[0].left());
    // The minimum rope width with every item present: the capsule fits.
    const auto widest = ClotheslineToolbarGeometry{150, 90, 40, 110}.frames(QRectF(0, 0, 740, 44));
    EXPECT_GE(widest[0].left(), 0);
}

TEST(ClotheslineToolbarLayout, PlacesSixChildrenMeasuringHiddenOnesAsZeroAndSpringsOnlyWhenAsked) {
    MotionOff motion(false);
    QWidget bar;
    auto* layout = new ClotheslineToolbarLayout(&bar);
    QList<QWidget*> children;
    for (int i = 0; i < 6; ++i) {
        auto* child = new QWidget(&bar);
        child->setMinimumSize(QSize(40 + 10 * i, 20 + i));
        layout->addWidget(child);
        children.append(child);
    }
    children[2]->hide();
    bar.resize(1000, 44);
    bar.show();
    layout->activate();
    EXPECT_EQ(layout->toolbarGeometry(), (ClotheslineToolbarGeometry{0, 80, 70, 90}));
    const auto frames = layout->targetFrames();
    EXPECT_EQ(children[0]->geometry(), frames[0].toRect());
    EXPECT_EQ(children[3]->x(), std::lround(frames[3].x()));
    EXPECT_EQ(children[3]->y(), 22 - 23 / 2) << "centred vertically at its own height";
    EXPECT_FALSE(layout->animating());
    children[1]->setMinimumWidth(190);
    EXPECT_EQ(layout->toolbarGeometry().leadingWidth, 190) << "a leading item needing more than 175 gets it";
    children[1]->setMinimumWidth(50);

    layout->animateNextChange();
    children[2]->show();
    layout->setGeometry(bar.rect());
    EXPECT_TRUE(layout->animating()) << "a change after animateNextChange springs";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !layout->animating(); }, 10000));
    EXPECT_EQ(children[2]->x(), std::lround(layout->targetFrames()[2].x()));

    children[4]->hide();
    layout->setGeometry(QRect(0, 0, 1000, 44));
    EXPECT_FALSE(layout->animating()) << "other changes jump";

    EXPECT_DOUBLE_EQ(ClotheslineToolbarLayout::springProgress(0), 0);
    EXPECT_GT(ClotheslineToolbarLayout::springProgress(0.3), 1) << "the spring overshoots";
    EXPECT_NEAR(ClotheslineToolbarLayout::springProgress(1.2), 1, 0.01);
}

TEST(ToolbarIcon, HintsLabelAndShortcutShowsBusyAndRedOnlyWhenEnabled) {
    MotionOff motion(false);
    EXPECT_EQ(ToolbarIcon::hintText("全选", QString("Ctrl+A")), "全选  Ctrl+A");
    EXPECT_EQ(ToolbarIcon::hintText("设置", std::nullopt), "设置");

    QWidget window;
    window.resize(300, 120);
    auto* trash = new ToolbarIcon("trash", "删除", QString("Ctrl+Delete"), &window);
    trash->setDestructive(true);
    window.show();
    EXPECT_EQ(trash->sizeHint(), QSize(30, 28)) << "22 x 20 inside the style's padding";
    EXPECT_EQ(trash->accessibleName(), "删除");
    EXPECT_EQ(trash->symbolColor(), QColor(255, 59, 48));
    trash->setBusy(true);
    EXPECT_EQ(trash->sizeHint(), QSize(30, 28)) << "the indicator takes the same frame";
    trash->setEnabled(false);
    EXPECT_NE(trash->symbolColor(), QColor(255, 59, 48));

    // A disabled button shows no fill whatever the pointer does.
    enter(*trash);
    EXPECT_DOUBLE_EQ(trash->targetFillOpacity(), 0);
    leave(*trash);
    trash->setEnabled(true);
    {
        MotionOff reduced(true);
        enter(*trash);
        EXPECT_DOUBLE_EQ(trash->fillOpacity(), 0.08) << "with reduced motion the fill changes at once";
        leave(*trash);
        EXPECT_DOUBLE_EQ(trash->fillOpacity(), 0);
    }
    enter(*trash);
    EXPECT_DOUBLE_EQ(trash->targetFillOpacity(), 0.08);
    EXPECT_LT(trash->fillOpacity(), 0.08) << "otherwise it eases in";
    EXPECT_TRUE(QTest::qWaitFor([&] { return trash->fillOpacity() == 0.08; }, 10000));
    leave(*trash);
}

TEST(HoverHint, ShowsAfterTheDelayBelowTheWidgetAndNotAfterThePointerLeft) {
    QWidget window;
    window.resize(400, 200);
    auto* target = new QWidget(&window);
    target->setGeometry(100, 10, 30, 28);
    HoverHint hint(target, "查看  空格");
    window.show();

    enter(*target);
    EXPECT_FALSE(hint.shown()) << "not at once";
    EXPECT_TRUE(hint.delay().isActive());
    EXPECT_EQ(hint.delay().intervalAsDuration(), HoverHint::kDelay);
    ASSERT_TRUE(QTest::qWaitFor([&] { return hint.shown(); }, 10000));
    const QWidget* label = hint.hintWidget();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), &window);
    EXPECT_EQ(label->y(), 10 + 30);
    EXPECT_EQ(label->geometry().center().x(), 115) << "centred under the widget";
    EXPECT_TRUE(label->testAttribute(Qt::WA_TransparentForMouseEvents));
    leave(*target);
    EXPECT_FALSE(hint.shown()) << "leaving hides it at once";

    // Leaving before the delay ends the wait, so nothing stale shows later; coming back waits the
    // whole delay again.
    enter(*target);
    leave(*target);
    EXPECT_FALSE(hint.delay().isActive());
    enter(*target);
    EXPECT_TRUE(hint.delay().isActive());
    EXPECT_FALSE(hint.shown());
    ASSERT_TRUE(QTest::qWaitFor([&] { return hint.shown(); }, 10000));
    target->hide();
    EXPECT_FALSE(hint.shown()) << "a hidden widget takes its hint along";
}
