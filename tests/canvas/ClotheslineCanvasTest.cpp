#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineCanvasView.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/RopeFixture.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"
#include "rendering/PolaroidRenderer.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QStringList idsOf(const QList<Photo>& photos) {
    QStringList ids;
    for (const Photo& photo : photos)
        ids.append(photo.id);
    return ids;
}

void setStyle(bool offCenter, bool strictlyVertical) {
    UserDefaults::standard().setClotheslineOffCenterPeg(offCenter);
    UserDefaults::standard().setClotheslineStrictVertical(strictlyVertical);
}

// Every print's real paper is made and kept, so no late image brings another frame.
bool realPapersReady(Rope& rope) {
    const QList<Photo> photos = rope.model->photos();
    return std::all_of(photos.begin(), photos.end(), [&](const Photo& photo) {
        return PolaroidRenderer::cachedImage(photo, ClotheslineCanvasView::kPhotoSize,
                                             rope.canvas().paperScale(), PolaroidRenderer::kPaper)
            .has_value();
    });
}

// Takes the canvas's placement retry wake-up in hand: the one armed last, run by the test.
struct RetryAlarm {
    std::optional<double> pause;
    std::function<void()> wake;

    explicit RetryAlarm(ClotheslineCanvasView& canvas)
        : m_canvas(canvas) {
        canvas.setPlacementRetryTimer([this](double seconds, std::function<void()> wakeUp) {
            pause = seconds;
            wake = std::move(wakeUp);
        });
    }
    // The canvas outlives the alarm and may still ask for a wake-up as it goes.
    ~RetryAlarm() { m_canvas.setPlacementRetryTimer({}); }
    RetryAlarm(const RetryAlarm&) = delete;
    RetryAlarm& operator=(const RetryAlarm&) = delete;
    // Runs the armed wake-up once; false when none is armed.
    bool ring() {
        if (!pause)
            return false;
        pause.reset();
        std::exchange(wake, {})();
        return true;
    }

private:
    ClotheslineCanvasView& m_canvas;
};

// A placements writer that finds the disk full while `failing` holds.
DeferredStateFileWriter switchableWriter(std::shared_ptr<std::atomic<bool>> failing) {
    return [failing](const QJsonObject& value, const QString& path) -> Status {
        if (*failing)
            return Error::fromErrno(ENOSPC, path);
        return DeferredStateWriter::write(value, path);
    };
}

class ClotheslineCanvasTest : public testing::Test {
protected:
    void SetUp() override {
        ReduceMotion::setReader([] { return std::optional<bool>(false); });
        setStyle(false, false);
    }
    void TearDown() override { ReduceMotion::setReader({}); }
};

} // namespace

TEST_F(ClotheslineCanvasTest, FivePhotosHangAtTheirPlacesInDrawingOrder) {
    Rope rope(5);
    // Each move comes to the front, so this order is also the order from bottom to top.
    const QList<std::pair<int, double>> moves{{3, 0.9}, {1, 0.3}, {4, 0.1}, {0, 0.5}, {2, 0.7}};
    rope.place(moves);
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_EQ(canvas.photos().size(), 5);
    QStringList expectedOrder;
    for (const auto& move : moves)
        expectedOrder.append(rope.model->photos().at(move.first).id);
    EXPECT_EQ(idsOf(canvas.drawingOrder()), expectedOrder);
    EXPECT_EQ(rope.placementRequests, 0) << "every print has a place on row 0";

    ASSERT_TRUE(rope.waitForRest());
    const double span = canvas.width() - 2 * ClotheslineCanvasView::kInset - 290;
    for (const auto& [index, x] : moves) {
        const Photo& photo = rope.model->photos().at(index);
        const auto frame = canvas.printFrame(photo);
        ASSERT_TRUE(frame);
        EXPECT_NEAR(frame->x() + 145, ClotheslineCanvasView::kInset + 145 + x * span, 1e-6) << index;
        const auto slot = canvas.photoSlots().constFind(photo.id);
        ASSERT_NE(slot, canvas.photoSlots().constEnd());
        EXPECT_EQ(slot->z(), expectedOrder.indexOf(photo.id));
        EXPECT_EQ(slot->content().frame, *frame);
        EXPECT_FALSE(slot->hidden());
    }
    EXPECT_TRUE(canvas.pendulums().empty());
    // The rope sags under its prints.
    const auto mid = canvas.physics().displacement[ClotheslinePhysics::kSampleCount / 2];
    EXPECT_GT(mid, 1.0);
}

TEST_F(ClotheslineCanvasTest, UnplacedPrintsAreAskedForOnceAndAFailingPlacementIsNotRequeued) {
    Rope rope(3);
    rope.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope.placementRequests == 1; }));
    rope.settleUpdates();
    EXPECT_EQ(rope.placementRequests, 1);
    for (const Photo& photo : rope.canvas().photos())
        EXPECT_TRUE(rope.canvas().printFrame(photo)) << "placed through the one request";
    EXPECT_FALSE(rope.canvas().pendingPositions());

    // A request that placed nothing and showed no failure is not repeated, however long the rope
    // waits: only a shown failure is worth asking again for.
    Rope unanswered(2);
    int unansweredRequests = 0;
    unanswered.host->setPlacementRequest([&](GalleryModel&, int) { ++unansweredRequests; });
    double later = 100;
    unanswered.canvas().setClock([&later] { return later; });
    unanswered.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return unansweredRequests == 1; }));
    for (int i = 0; i < 6; ++i) {
        later += ClotheslineCanvasView::kMaxPlacementRetrySeconds;
        Q_EMIT unanswered.model->modelChanged();
        unanswered.settleUpdates();
    }
    EXPECT_FALSE(unanswered.model->placementError());
    EXPECT_EQ(unansweredRequests, 1) << "asked again with no failure shown";

    Rope failing(2, true);
    double now = 100;
    failing.canvas().setClock([&now] { return now; });
    const auto refreshes = [&failing](int count) {
        for (int i = 0; i < count; ++i) {
            Q_EMIT failing.model->modelChanged();
            failing.settleUpdates();
        }
    };
    failing.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return failing.placementRequests == 1; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return failing.model->placementError().has_value(); }));
    refreshes(5);
    const int failures = failing.placementRequests;
    EXPECT_EQ(failures, 1) << "the same unplaced prints are not asked for again at once";
    // A store broken for good is asked again only after pauses that double.
    now += ClotheslineCanvasView::kPlacementRetrySeconds;
    refreshes(3);
    EXPECT_EQ(failing.placementRequests, 2) << "asked again after the first pause";
    now += ClotheslineCanvasView::kPlacementRetrySeconds;
    refreshes(3);
    EXPECT_EQ(failing.placementRequests, 2) << "the second pause is twice as long";
    now += ClotheslineCanvasView::kPlacementRetrySeconds;
    refreshes(3);
    EXPECT_EQ(failing.placementRequests, 3);

    // The pause's end asks by itself on the canvas's own timer, which counts the pause in seconds:
    // with the pause over by the clock at once, the ask still waits for the timer.
    Rope timed(2, true);
    double then = 100;
    timed.canvas().setClock([&then] { return then; });
    timed.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return timed.model->placementError().has_value(); }));
    ASSERT_EQ(timed.placementRequests, 1);
    then += ClotheslineCanvasView::kPlacementRetrySeconds;
    QTest::qWait(400);
    EXPECT_EQ(timed.placementRequests, 1) << "the timer woke long before the pause was over";
    EXPECT_TRUE(QTest::qWaitFor([&] { return timed.placementRequests == 2; }, 5000))
        << "the pause's end did not ask again";

    // Prints that arrive while an import runs are refused a place; they are asked for again once
    // the import is over.
    Rope importing(2);
    importing.model->indexer().setThumbnailRenderer([](const QString& source, const QString& target) {
        QThread::msleep(300);
        Indexer::makeThumbnail(source, target);
    });
    const QString dropped = makeFolder("dropped-during-import") + "/d.png";
    saveImage(makeImage(30, 20), dropped);
    bool imported = false;
    importing.model->importExhibition({dropped}, 0.5, {}, true, [&](bool ok) { imported = ok; });
    ASSERT_TRUE(importing.model->importing());
    importing.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return importing.placementRequests == 1; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return imported && !importing.model->importing(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const QList<Photo> hung = importing.canvas().photos();
        return hung.size() == 3 && std::all_of(hung.cbegin(), hung.cend(), [&](const Photo& photo) {
                   return importing.canvas().printFrame(photo).has_value();
               });
    })) << "every print gets its place after the import";
    EXPECT_EQ(importing.placementRequests, 2);
}

TEST_F(ClotheslineCanvasTest, PrintsWhosePlacementWriteFailedOnceAreAskedForAgainAndAppear) {
    // The disk is full for the first write only.
    auto writes = std::make_shared<std::atomic<int>>(0);
    Rope rope(2, false, [writes](const QJsonObject& value, const QString& path) -> Status {
        if (writes->fetch_add(1) == 0)
            return Error::fromErrno(ENOSPC, path);
        return DeferredStateWriter::write(value, path);
    });
    double now = 10;
    rope.canvas().setClock([&now] { return now; });
    rope.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope.placementRequests == 1; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope.model->placementError().has_value(); }));
    for (const Photo& photo : rope.canvas().photos())
        EXPECT_FALSE(rope.canvas().printFrame(photo)) << "the failed write placed nothing";
    for (int i = 0; i < 5; ++i) {
        now += 1;
        Q_EMIT rope.model->modelChanged();
        rope.settleUpdates();
    }
    EXPECT_EQ(rope.placementRequests, 2) << "asked again once, and that time it worked";
    EXPECT_FALSE(rope.model->placementError()) << "the error goes with the write that worked";
    ASSERT_EQ(rope.canvas().photos().size(), 2);
    for (const Photo& photo : rope.canvas().photos()) {
        EXPECT_TRUE(rope.canvas().printFrame(photo)) << "every print hangs now";
        EXPECT_EQ(rope.canvas().photo(rope.canvas().printFrame(photo)->center()).has_value(), true);
    }
}

TEST_F(ClotheslineCanvasTest, PrintsLeftUnplacedByAFailedWriteAppearOnceTheErrorIsClosedOrAnotherWriteWorks) {
    // The placements' write number `failing` (from 0) finds the disk full; the others work.
    const auto failingWrite = [](int failing) {
        auto writes = std::make_shared<std::atomic<int>>(0);
        return [writes, failing](const QJsonObject& value, const QString& path) -> Status {
            if (writes->fetch_add(1) == failing)
                return Error::fromErrno(ENOSPC, path);
            return DeferredStateWriter::write(value, path);
        };
    };
    const auto hangsEverywhere = [](Rope& rope) {
        const QList<Photo> hung = rope.canvas().photos();
        return !hung.isEmpty() && std::all_of(hung.cbegin(), hung.cend(), [&](const Photo& photo) {
            const auto frame = rope.canvas().printFrame(photo);
            return frame && rope.canvas().photo(frame->center()).has_value();
        });
    };
    const auto refreshesApart = [](Rope& rope, double& now, double seconds, int count) {
        for (int i = 0; i < count; ++i) {
            now += seconds;
            Q_EMIT rope.model->modelChanged();
            rope.settleUpdates();
        }
    };

    {
        SCOPED_TRACE("the user closes the error");
        Rope rope(2, false, failingWrite(0));
        double now = 10;
        rope.canvas().setClock([&now] { return now; });
        rope.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rope.model->placementError().has_value(); }));
        ASSERT_EQ(rope.placementRequests, 1);
        rope.model->dismissErrors();
        rope.settleUpdates();
        EXPECT_EQ(rope.placementRequests, 1) << "not before the pause has passed";
        // An idle rope does not refresh after the error closed: the pause's end asks by itself.
        now += ClotheslineCanvasView::kPlacementRetrySeconds;
        EXPECT_TRUE(QTest::qWaitFor([&] { return rope.placementRequests == 2; }, 5000));
        refreshesApart(rope, now, 100, 10);
        EXPECT_EQ(rope.placementRequests, 2) << "asked again once, and that time it worked";
        EXPECT_FALSE(rope.model->placementError());
        EXPECT_TRUE(hangsEverywhere(rope)) << "every print is drawn and takes the pointer";
    }
    {
        SCOPED_TRACE("sliding another print writes the placements");
        Rope rope(3, false, failingWrite(1));
        double now = 10;
        rope.canvas().setClock([&now] { return now; });
        rope.place({{0, 0.1}, {1, 0.9}});
        rope.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rope.model->placementError().has_value(); }));
        ASSERT_EQ(rope.placementRequests, 1);
        const Photo unplaced = rope.model->photos().at(2);
        ASSERT_FALSE(rope.canvas().printFrame(unplaced));
        now += 5;
        ASSERT_TRUE(rope.model->moveClotheslinePhotos({{rope.model->photos().at(0), 0, 0.3}}));
        rope.settleUpdates();
        EXPECT_FALSE(rope.model->placementError()) << "the write that worked took the error away";
        refreshesApart(rope, now, 100, 10);
        EXPECT_EQ(rope.placementRequests, 2);
        EXPECT_TRUE(rope.canvas().printFrame(unplaced)) << "the print left out hangs now";
        EXPECT_TRUE(hangsEverywhere(rope));
    }
}

TEST_F(ClotheslineCanvasTest,
       AStoreThatStaysBrokenIsAskedAgainOnlyAfterDoublingPausesThoughItsErrorIsClosed) {
    Rope rope(2, true);
    double now = 100;
    rope.canvas().setClock([&now] { return now; });
    QList<double> asked;
    rope.host->setPlacementRequest([&](GalleryModel& model, int columns) {
        asked.append(now);
        model.ensureClotheslinePositions(columns);
    });
    rope.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked.size() == 1 && rope.model->placementError(); }));
    // Five minutes of a refresh every half second, the user closing the error each time.
    while (now < 400) {
        now += 0.5;
        rope.model->dismissErrors();
        Q_EMIT rope.model->modelChanged();
        rope.settleUpdates();
    }
    ASSERT_GE(asked.size(), 3) << "asked again though the error was closed";
    for (qsizetype i = 1; i < asked.size(); ++i) {
        const double pause = std::min(ClotheslineCanvasView::kPlacementRetrySeconds * double(1 << (i - 1)),
                                      ClotheslineCanvasView::kMaxPlacementRetrySeconds);
        EXPECT_GE(asked[i] - asked[i - 1], pause) << "request " << i;
    }
    // 1, 2, 4, ... 64, 64: ten in all by 300 s.
    EXPECT_LE(asked.size(), 10) << "a broken store is not hammered";
    for (const Photo& photo : rope.canvas().photos())
        EXPECT_FALSE(rope.canvas().printFrame(photo));
}

TEST_F(ClotheslineCanvasTest, AnIdleRopeAsksAgainAfterEachDoublingPauseAndItsPrintsAppearOnceTheStoreWorks) {
    auto failing = std::make_shared<std::atomic<bool>>(true);
    double now = 100; // read by the canvas's clock until the rope goes
    Rope rope(5, false, switchableWriter(failing));
    rope.canvas().setClock([&now] { return now; });
    RetryAlarm alarm(rope.canvas());
    rope.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope.placementRequests == 1 && rope.model->placementError(); }));
    rope.settleUpdates();

    // Nobody touches the rope: only the wake-up armed by each failure asks again, and the store
    // stays broken across several pauses, which double up to their longest and stay there.
    const QList<double> pauses{1, 2, 4, 8, 16, 32, 64, 64};
    for (qsizetype i = 0; i < pauses.size(); ++i) {
        ASSERT_TRUE(alarm.pause) << "nothing asks again after failure " << i + 1;
        EXPECT_DOUBLE_EQ(*alarm.pause, pauses[i]) << "pause after failure " << i + 1;
        now += *alarm.pause;
        ASSERT_TRUE(alarm.ring());
        rope.settleUpdates();
        EXPECT_EQ(rope.placementRequests, i + 2);
    }
    for (const Photo& photo : rope.canvas().photos())
        EXPECT_FALSE(rope.canvas().printFrame(photo));

    // The folder takes writes again: the next wake-up places the prints, and nothing is armed
    // after that.
    failing->store(false);
    ASSERT_TRUE(alarm.pause);
    now += *alarm.pause;
    ASSERT_TRUE(alarm.ring());
    rope.settleUpdates();
    EXPECT_EQ(rope.placementRequests, int(pauses.size()) + 2);
    EXPECT_FALSE(rope.model->placementError());
    ASSERT_EQ(rope.canvas().photos().size(), 5);
    for (const Photo& photo : rope.canvas().photos()) {
        const auto frame = rope.canvas().printFrame(photo);
        ASSERT_TRUE(frame) << "a print stays off the rope";
        EXPECT_TRUE(rope.canvas().photo(frame->center()).has_value());
    }
    EXPECT_FALSE(alarm.pause) << "a wake-up armed with every print placed";
}

TEST_F(ClotheslineCanvasTest, ThePauseStartsAgainFromOneSecondOnceEveryPrintIsPlaced) {
    auto failing = std::make_shared<std::atomic<bool>>(true);
    double now = 100; // read by the canvas's clock until the rope goes
    Rope rope(3, false, switchableWriter(failing));
    rope.canvas().setClock([&now] { return now; });
    RetryAlarm alarm(rope.canvas());
    rope.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope.placementRequests == 1 && rope.model->placementError(); }));
    rope.settleUpdates();
    // Two failures, then a write that works.
    ASSERT_TRUE(alarm.pause);
    now += *alarm.pause;
    ASSERT_TRUE(alarm.ring());
    rope.settleUpdates();
    ASSERT_EQ(rope.placementRequests, 2);
    ASSERT_TRUE(alarm.pause);
    EXPECT_DOUBLE_EQ(*alarm.pause, 2);
    failing->store(false);
    now += *alarm.pause;
    ASSERT_TRUE(alarm.ring());
    rope.settleUpdates();
    ASSERT_EQ(rope.placementRequests, 3);
    for (const Photo& photo : rope.canvas().photos())
        ASSERT_TRUE(rope.canvas().printFrame(photo));

    // Much later a print needs a place again and the disk is full once more: a new trouble, so
    // the first pause is the shortest again, not the one the earlier failures grew to.
    now += 1000;
    ASSERT_TRUE(rope.model->moveClotheslinePhotos({{rope.model->photos().at(1), 1, 0.5}}));
    failing->store(true);
    rope.settleUpdates();
    ASSERT_EQ(rope.placementRequests, 4);
    ASSERT_TRUE(rope.model->placementError());
    ASSERT_TRUE(alarm.pause);
    EXPECT_DOUBLE_EQ(*alarm.pause, ClotheslineCanvasView::kPlacementRetrySeconds);
}

TEST_F(ClotheslineCanvasTest, DragSpritesAreKeptWhileUnchangedAndDroppedWhenTheirPrintLeavesTheRope) {
    Rope rope(3);
    rope.place({{0, 0.1}, {1, 0.5}, {2, 0.9}});
    rope.show();
    ASSERT_TRUE(rope.waitForRest());
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    for (const Photo& photo : photos)
        canvas.opaqueSprite(photo);
    const QImage first = canvas.opaqueSprite(photos[1]);
    EXPECT_EQ(canvas.opaqueSprite(photos[1]).cacheKey(), first.cacheKey()) << "the same sprite again";
    rope.model->setSelection({photos[1]});
    rope.settleUpdates();
    EXPECT_NE(canvas.opaqueSprite(photos[1]).cacheKey(), first.cacheKey()) << "the selection badge is new";

    ASSERT_TRUE(rope.model->setHanging({photos[0], photos[2]}, false, RopeHistoryRecording::record));
    rope.settleUpdates();
    EXPECT_EQ(canvas.opaqueSpriteIDs(), QStringList{photos[1].id})
        << "prints taken down keep no drag picture";
}

TEST_F(ClotheslineCanvasTest, ARefreshWithAnEqualPresentationDoesNotRebuild) {
    Rope rope(2);
    rope.place({{0, 0.2}, {1, 0.8}});
    rope.show();
    QTest::qWait(50);
    const int rebuilds = rope.canvas().rebuildCount();
    const int updates = rope.host->updateCount();
    Q_EMIT rope.model->modelChanged();
    rope.settleUpdates();
    EXPECT_GT(rope.host->updateCount(), updates);
    EXPECT_EQ(rope.canvas().rebuildCount(), rebuilds);

    rope.model->setSelection({rope.model->photos().first()});
    rope.settleUpdates();
    EXPECT_EQ(rope.canvas().rebuildCount(), rebuilds + 1) << "the selection is part of the presentation";
}

TEST_F(ClotheslineCanvasTest, PrintsShowInTheFirstPaintWithoutWaitingForTheDisplayLink) {
    Rope rope(2);
    rope.place({{0, 0.2}, {1, 0.5}});
    // Shown without a turn of the event loop: no display-link frame has run yet.
    rope.window->show();
    ClotheslineCanvasView& canvas = rope.canvas();
    EXPECT_EQ(canvas.physicsFrameCount(), 0);
    EXPECT_EQ(canvas.photoSlots().size(), 2) << "coming on screen builds the prints' layers";
    for (const ClotheslinePhotoSlot& slot : canvas.photoSlots())
        EXPECT_FALSE(slot.content().peg.isNull());

    ASSERT_TRUE(rope.waitForRest());
    const int frames = canvas.physicsFrameCount();
    const Photo first = rope.model->photos().at(0);
    const qint64 badge = canvas.photoSlots().value(first.id).content().overlay.cacheKey();
    rope.model->setSelection({first});
    canvas.refresh(rope.model.get(), rope.host->scrollView()->contentSize(), false, HangingStyle::current(),
                   {}, {});
    EXPECT_EQ(canvas.physicsFrameCount(), frames);
    EXPECT_NE(canvas.photoSlots().value(first.id).content().overlay.cacheKey(), badge)
        << "a refresh that selects a print gives it the selection badge at once";
}

TEST_F(ClotheslineCanvasTest, PapersThatComeReadyTogetherAreTakenInByOneFrame) {
    PolaroidRenderer::clearCaches();
    Rope rope(4);
    rope.place({{0, 0.2}, {1, 0.4}, {2, 0.6}, {3, 0.8}});
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto& slots = canvas.photoSlots();
            return slots.size() == 4 && realPapersReady(rope) &&
                   std::all_of(slots.begin(), slots.end(),
                               [](const auto& s) { return !s.coveredRect().isEmpty(); });
        },
        20000))
        << "every print gets its paper";
    // Four papers and up to four placeholders, each at most one frame.
    EXPECT_LE(canvas.scheduledFrameCount(), 8);

    // A loaded machine may still bring a late image's frame: count from a still canvas.
    int frames = canvas.scheduledFrameCount();
    for (int round = 0; round < 20; ++round) {
        QTest::qWait(100);
        const int now = canvas.scheduledFrameCount();
        if (now == frames)
            break;
        frames = now;
    }
    for (int i = 0; i < 3; ++i)
        canvas.scheduleFrame();
    EXPECT_EQ(canvas.scheduledFrameCount(), frames) << "not inside the turn that asked";
    rope.settleUpdates();
    EXPECT_EQ(canvas.scheduledFrameCount(), frames + 1);
}

TEST_F(ClotheslineCanvasTest, ThePhysicsStopsAtRestAndReduceMotionShowsPrintsAtRest) {
    {
        Rope rope(3);
        rope.place({{0, 0.2}, {1, 0.5}, {2, 0.8}});
        rope.show();
        EXPECT_TRUE(rope.canvas().physicsRunning());
        EXPECT_EQ(rope.canvas().pendulums().size(), 3u) << "new prints swing in";
        ASSERT_TRUE(rope.waitForRest());
        const int frames = rope.canvas().physicsFrameCount();
        QTest::qWait(300);
        EXPECT_EQ(rope.canvas().physicsFrameCount(), frames) << "no frames once everything rests";
        EXPECT_TRUE(rope.canvas().pendulums().empty());
    }
    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    Rope rope(3);
    rope.place({{0, 0.2}, {1, 0.5}, {2, 0.8}});
    rope.show();
    EXPECT_TRUE(rope.canvas().pendulums().empty());
    EXPECT_EQ(rope.canvas().physics().displacement, rope.canvas().physics().target);
    ASSERT_TRUE(rope.waitForRest(1000));
    EXPECT_LE(rope.canvas().physicsFrameCount(), 2);
}

TEST_F(ClotheslineCanvasTest, AFrameLooksLikeEveryPrintPaintedInTurn) {
    Rope rope(6);
    rope.place({{0, 0.3}, {1, 0.34}, {2, 0.38}, {3, 0.42}, {4, 0.46}, {5, 0.5}});
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    // Swinging or not, the prints stay turned; the check waits for their real papers, which hide
    // what lies below them (a placeholder covers too), and takes them into the slots at once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return realPapersReady(rope); }, 20000));
    canvas.invalidateFrame();
    const auto& slots = canvas.photoSlots();
    ASSERT_EQ(slots.size(), 6);
    ASSERT_TRUE(
        std::all_of(slots.begin(), slots.end(), [](const auto& s) { return !s.coveredRect().isEmpty(); }));
    const QRegion dirty(canvas.rect());
    QImage frame(canvas.size() * 2, QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    frame.setDevicePixelRatio(2);
    QImage expected = frame.copy();
    {
        QPainter p(&frame);
        canvas.drawContent(p, dirty);
    }
    QList<ClotheslineFrameCompositor::Layer> layers;
    for (const ClotheslinePhotoSlot& slot : canvas.photoSlots())
        layers.append({&slot, dirty & slot.bounds().toAlignedRect()});
    std::sort(layers.begin(), layers.end(),
              [](const auto& a, const auto& b) { return a.slot->z() < b.slot->z(); });
    {
        QPainter p(&expected);
        const ClotheslineRopeGeometry ropeNow = canvas.ropeGeometry();
        ClotheslineFrameCompositor::paintDirectly(
            p, dirty, [&](QPainter& q) { ropeNow.draw(q); }, layers);
    }
    // Bands clip where one painter does not, so where the swing leaves an edge between device
    // pixels a few of its pixels round differently; a seam or a misplaced print differs in rows.
    const ImageDifference d = imageDifference(frame, expected);
    qsizetype rounded = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb a = reinterpret_cast<const QRgb*>(frame.constScanLine(y))[x];
            const QRgb b = reinterpret_cast<const QRgb*>(expected.constScanLine(y))[x];
            if (std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                          std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))}) > 2)
                ++rounded;
        }
    EXPECT_LE(rounded, 64) << "largest difference " << d.largest;
    EXPECT_LE(d.largest, 48);
    EXPECT_LT(d.pixels, frame.width() * frame.height() / 1000);
}

TEST_F(ClotheslineCanvasTest, PublishedHitPathsFollowThePrintGeometry) {
    Rope rope(3);
    rope.place({{0, 0.2}, {1, 0.5}, {2, 0.8}});
    rope.model->setSelection({rope.model->photos().at(1)});
    rope.show();
    ASSERT_TRUE(rope.waitForRest());
    ClotheslineCanvasView& canvas = rope.canvas();
    const FakeRopeWindowPort& port = *rope.port;
    EXPECT_EQ(port.knotResizePaths.size(), 2);
    ASSERT_TRUE(port.ropeMovePath && port.ropeDropPath);

    // Each print's paper, peg and badge, where the print hangs now, as it is now.
    const auto followed = [&] {
        QList<QPainterPath> expected;
        for (const Photo& photo : canvas.photos()) {
            const QRectF frame = *canvas.printFrame(photo);
            const PolaroidGeometry g = canvas.geometry(photo);
            const QPointF origin = frame.topLeft() + QPointF(0, kCanvasTop);
            expected.append(g.paperPath.translated(origin));
            expected.append(g.pegPath.translated(origin));
            if (const auto badge = canvas.indicatorPath(photo, g))
                expected.append(badge->translated(origin));
        }
        ASSERT_EQ(port.canvasPaths.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const QRectF got = port.canvasPaths[i].boundingRect();
            const QRectF want = expected[i].boundingRect();
            EXPECT_NEAR(got.left(), want.left(), 0.01) << i;
            EXPECT_NEAR(got.top(), want.top(), 0.01) << i;
            EXPECT_NEAR(got.width(), want.width(), 0.01) << i;
            EXPECT_NEAR(got.height(), want.height(), 0.01) << i;
        }
    };
    followed();
    EXPECT_EQ(port.canvasPaths.size(), 9) << "a selection badge and two arrival tags";
    // Another print selected, then one moved: the areas of the prints that stayed as they were are
    // kept, the others' follow.
    rope.model->setSelection({rope.model->photos().at(0)});
    rope.settleUpdates();
    ASSERT_TRUE(rope.waitForRest());
    followed();
    rope.place({{2, 0.65}});
    ASSERT_TRUE(rope.waitForRest());
    followed();

    // The rope between two prints is a rope shape, not a print.
    const ClotheslineRopeGeometry geometry = canvas.ropeGeometry();
    const QPointF onRope = geometry.pointAlong(0.02);
    EXPECT_TRUE(port.ropeMovePath->contains(onRope + QPointF(0, kCanvasTop)));
    EXPECT_FALSE(canvas.photo(onRope));

    rope.host->dismantle();
    EXPECT_TRUE(port.canvasPaths.isEmpty());
    EXPECT_TRUE(port.knotResizePaths.isEmpty());
    EXPECT_FALSE(port.ropeMovePath || port.ropeDropPath);
    EXPECT_FALSE(canvas.physicsRunning());
}

TEST_F(ClotheslineCanvasTest, LayoutRulesOfTheCanvas) {
    Rope rope(1);
    ClotheslineCanvasView& canvas = rope.canvas();
    struct Case {
        int width;
        int columns;
    };
    for (const Case c : {Case{10, 1}, Case{24, 1}, Case{24 + 240, 1}, Case{24 + 240 * 4, 4}, Case{980, 3}}) {
        canvas.resize(c.width, 100);
        EXPECT_EQ(canvas.columns(), c.columns) << c.width;
    }
    rope.show();
    rope.host->scrollView()->resize(980, 100);
    rope.settleUpdates();
    EXPECT_EQ(canvas.height(), ClotheslineCanvasView::kFullCanvasHeight) << "a print makes the canvas tall";
    EXPECT_EQ(canvas.width(), 980);
}

// A start with a few prints hung showed bare pegs in its first frame, the papers a frame later:
// their blank papers were only asked for once the window showed.
TEST_F(ClotheslineCanvasTest, PrintsHungBeforeTheRopeShowsHaveTheirPapersInItsFirstFrame) {
    PolaroidRenderer::clearCaches();
    Rope rope(3);
    rope.place({{0, 0.2}, {1, 0.5}, {2, 0.8}});
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_FALSE(canvas.isVisible());
    const int frames = canvas.scheduledFrameCount();
    canvas.refresh(rope.model.get(), QSizeF(980, 452), false, HangingStyle::current(), {}, {});
    // Each print's blank paper comes ready on its own, at the screen's scale: the first one ready
    // is not all of them.
    const double scale = std::max(canvas.screen() ? canvas.screen()->devicePixelRatio() : 1.0, 1.0);
    const auto papersReady = [&] {
        for (const Photo& photo : rope.model->photos())
            if (!PolaroidRenderer::placeholderReady(photo, scale))
                return false;
        return true;
    };
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return canvas.scheduledFrameCount() > frames && papersReady(); }, 10000))
        << "no blank paper was drawn before the window showed";
    rope.window->show();
    ASSERT_EQ(canvas.photoSlots().size(), 3);
    for (const ClotheslinePhotoSlot& slot : canvas.photoSlots())
        EXPECT_NE(slot.content().paper.cacheKey(), PolaroidRenderer::emptyPaper().cacheKey())
            << "a print showed without its paper";
}
