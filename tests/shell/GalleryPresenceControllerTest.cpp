#include "shell/GalleryPresenceController.h"

#include "model/RopeModelFixture.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QEvent>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

void nextTurn() {
    QApplication::processEvents();
}

QSet<QString> ids(const QList<Photo>& photos) {
    QSet<QString> result;
    for (const Photo& photo : photos)
        result.insert(photo.id);
    return result;
}

} // namespace

TEST(GalleryPresenceController, ChangesOfOneTurnMakeOnePassAndTheFirstFrontsAnEmptyRope) {
    RopeModel rope(0);
    GalleryWindow window;
    GalleryPresenceController presence(*rope, &window);
    int visibilityCalls = 0;
    presence.setVisibilityChanged([&] { ++visibilityCalls; });

    for (int i = 0; i < 5; ++i)
        rope->setSelectionRequest(i + 1);
    EXPECT_TRUE(presence.scheduled());
    nextTurn();
    EXPECT_EQ(presence.passCount(), 1) << "five changes, one pass";
    EXPECT_EQ(visibilityCalls, 1);
    EXPECT_EQ(presence.frontCount(), 1) << "the first pass fronts even an empty rope";
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(rope->clotheslineChrome().window(), static_cast<GalleryWindowPort*>(&window))
        << "chrome and window are tied";
    EXPECT_FALSE(rope->clotheslineChrome().wantsPhotos());

    // Nothing new: the window is left where the user has it.
    presence.reconcile();
    EXPECT_EQ(presence.frontCount(), 1);

    // A dialog of the window holds passes back; its end runs one.
    bool sheet = true;
    presence.setSheetAttached([&] { return sheet; });
    presence.reconcile();
    EXPECT_EQ(presence.passCount(), 2);
    sheet = false;
    QEvent unblocked(QEvent::WindowUnblocked);
    QApplication::sendEvent(&window, &unblocked);
    nextTurn();
    EXPECT_EQ(presence.passCount(), 3);
}

TEST(GalleryPresenceController, ArrivalsAreOnlyCountedWhileTheUserKeepsTheRopeClosed) {
    RopeModel rope(2);
    GalleryWindow window;
    GalleryPresenceController presence(*rope, &window);
    presence.reconcile();
    ASSERT_TRUE(window.isVisible());
    EXPECT_TRUE(rope->clotheslineChrome().wantsPhotos());

    // Closed while it showed the grid with a selection.
    rope->setClotheslineMode(false);
    rope->setSelection({rope.photos[1]});
    nextTurn();
    window.close();
    EXPECT_TRUE(presence.manuallyCollapsed());
    nextTurn();
    const int fronted = presence.frontCount();

    QList<Photo> photos = rope.photos;
    photos.append({recordPhoto(7), recordPhoto(8), recordPhoto(9)});
    rope.show(photos);
    nextTurn();
    EXPECT_FALSE(window.isVisible()) << "closed by the user, it stays closed";
    EXPECT_EQ(presence.frontCount(), fronted);
    EXPECT_FALSE(rope->clotheslineMode()) << "and keeps the grid it had";
    EXPECT_EQ(window.clotheslineStyle(), std::optional<bool>(false));
    EXPECT_EQ(rope->selectedIDs(), QSet<QString>{rope.photos[1].id});
    EXPECT_EQ(presence.pendingArrivalIDs(), ids({recordPhoto(7), recordPhoto(8), recordPhoto(9)}));

    // Taken down again before the user looked: no longer counted.
    ASSERT_TRUE(rope->setHanging({recordPhoto(8)}, false, RopeHistoryRecording::untracked));
    nextTurn();
    EXPECT_EQ(presence.pendingArrivalIDs(), ids({recordPhoto(7), recordPhoto(9)}));

    // Opening the gallery forgets the count.
    rope->setSelection({rope.photos[0]});
    presence.prepareExplicitOpen();
    EXPECT_FALSE(presence.manuallyCollapsed());
    EXPECT_TRUE(presence.pendingArrivalIDs().isEmpty());
    EXPECT_TRUE(rope->selectedIDs().isEmpty()) << "an explicit open starts without a selection";
}

TEST(GalleryPresenceController, ANewPrintEndsTheGridSelectionAndFrontsTheRope) {
    RopeModel rope(1);
    GalleryWindow window;
    GalleryPresenceController presence(*rope, &window);
    presence.reconcile();
    window.hide(); // hidden by something else than the user's close: still showing
    rope->setClotheslineMode(false);
    rope->setSelection({rope.photos[0]});
    nextTurn();
    const int fronted = presence.frontCount();

    // Its trash take-down is pending with the same file birth: not hanging, nothing fronted.
    rope->addPendingTrashTakeDown({recordPhoto(3)});
    rope.show({rope.photos[0], recordPhoto(3)});
    nextTurn();
    EXPECT_EQ(presence.frontCount(), fronted);

    rope.show({rope.photos[0], recordPhoto(3), recordPhoto(4)});
    nextTurn();
    EXPECT_EQ(presence.frontCount(), fronted + 1);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(rope->clotheslineMode());
    EXPECT_TRUE(rope->selectedIDs().isEmpty());
    EXPECT_EQ(window.clotheslineStyle(), std::optional<bool>(true));
}
