#include "RopeModelFixture.h"

#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QStringList ids(const QList<Photo>& photos) {
    QStringList result;
    for (const Photo& photo : photos)
        result.append(photo.id);
    return result;
}

QStringList selected(const GalleryModel& model) {
    QStringList result = model.selectedIDs().values();
    result.sort();
    return result;
}

} // namespace

TEST(KeyboardSelection, RopeOrderFollowsThePlacementsThenTheIds) {
    RopeModel rope(5);
    const QList<Photo>& p = rope.photos;
    ASSERT_TRUE(
        rope->moveClotheslinePhotos({{p[0], 0, 0.9}, {p[1], 0, 0.1}, {p[2], 0, 0.5}, {p[3], 0, 0.5}}));
    ASSERT_TRUE(rope->setHanging({p[3]}, false, RopeHistoryRecording::untracked));
    // p4 has no placement and counts as the middle of the rope, where p2 hangs: the ids decide.
    EXPECT_EQ(ids(rope->orderedRopePhotos()), (QStringList{p[1].id, p[2].id, p[4].id, p[0].id}));
    rope->addPendingTrashTakeDown({p[2]});
    EXPECT_EQ(ids(rope->orderedRopePhotos()), (QStringList{p[1].id, p[4].id, p[0].id}));
}

TEST(KeyboardSelection, ArrowsWalkTheRopeAndShiftExtendsFromTheAnchor) {
    RopeModel rope(4);
    const QList<Photo> order{rope.photos[2], rope.photos[0], rope.photos[3], rope.photos[1]};
    const auto id = [&](int i) { return order[i].id; };

    struct Step {
        const char* what;
        int direction;
        bool extend;
        QStringList expected;
        QString anchor;
    };
    // Each step starts where the previous one left the selection.
    const QList<Step> steps{
        {"Left without a selection takes the rightmost", -1, false, {id(3)}, id(3)},
        {"Right on the last stays", +1, false, {id(3)}, id(3)},
        {"Shift-Right on the last adds nothing", +1, true, {id(3)}, id(3)},
        {"Left steps back", -1, false, {id(2)}, id(2)},
        {"Shift-Left grows the selection", -1, true, {id(1), id(2)}, id(1)},
        {"Shift-Left again", -1, true, {id(0), id(1), id(2)}, id(0)},
        {"Shift-Right keeps what is selected", +1, true, {id(0), id(1), id(2)}, id(1)},
        {"Right alone collapses", +1, false, {id(2)}, id(2)},
    };
    rope->setSelection({});
    for (const Step& step : steps) {
        rope->moveKeyboardSelection(order, step.direction, step.extend);
        QStringList expected = step.expected;
        expected.sort();
        EXPECT_EQ(selected(*rope), expected) << step.what;
        EXPECT_EQ(rope->selectionAnchorID(), step.anchor) << step.what;
        EXPECT_EQ(rope->keyboardRevealID(), step.anchor) << step.what;
    }

    rope->endSelection();
    rope->moveKeyboardSelection(order, +1, false);
    EXPECT_EQ(selected(*rope), QStringList{id(0)}) << "Right without a selection takes the leftmost";

    // The anchor deselected by a click: the first selected print in rope order leads.
    rope->setSelection({order[3], order[1], order[0]});
    rope->toggleSelection(order[0]);
    rope->toggleSelection(order[0]);
    rope->toggleSelection(order[0]);
    ASSERT_EQ(rope->selectionAnchorID(), id(0));
    ASSERT_FALSE(rope->selectedIDs().contains(id(0)));
    rope->moveKeyboardSelection(order, +1, false);
    EXPECT_EQ(selected(*rope), QStringList{id(2)}) << "from order[1]";

    rope->setDeleting(true);
    rope->moveKeyboardSelection(order, -1, false);
    EXPECT_EQ(selected(*rope), QStringList{id(2)}) << "busy";
}

TEST(KeyboardSelection, SelectAllTogglesAndTheModeSetterPublishesChanges) {
    RopeModel rope(3);
    const QList<Photo>& p = rope.photos;
    rope->setSelection({p[0], p[1]});
    rope->toggleAllSelection(p);
    EXPECT_EQ(rope->selectedIDs().size(), 3) << "one was missing: all are selected";
    rope->toggleAllSelection(p);
    EXPECT_TRUE(rope->selectedIDs().isEmpty());
    EXPECT_FALSE(rope->selectionMode());
    rope->toggleAllSelection({});
    EXPECT_FALSE(rope->selectionMode());

    int changes = 0;
    QObject::connect(&*rope, &GalleryModel::clotheslineModeChanged, [&] { ++changes; });
    rope->setClotheslineMode(false);
    rope->setClotheslineMode(false);
    EXPECT_FALSE(rope->clotheslineMode());
    EXPECT_EQ(changes, 1);
}
