#include "RopeModelFixture.h"

#include "model/DeferredStateExit.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

using Kind = DeferredStateExitOutcome::Kind;

// Leaves a debounced placement write owed for a minute: the print raised over the others.
RopeModel ropeWithOwedPlacement() {
    RopeModel rope(2, std::chrono::milliseconds(60'000));
    EXPECT_TRUE(rope->ensureClotheslinePositions(10));
    EXPECT_TRUE(rope->bringClotheslinePhotoToFront(rope.photos[0]));
    EXPECT_TRUE(rope->clotheslinePlacements().deferredWriter().needsSave());
    return rope;
}

} // namespace

TEST(DeferredStateExit, WorkInProgressRefusesTheQuit) {
    RopeModel rope(0);
    struct Case {
        bool deleting, importing;
        std::optional<QString> reason;
    };
    for (const Case& c : {Case{false, false, std::nullopt}, Case{false, true, "正在保存照片"},
                          Case{true, false, "正在删除照片"}, Case{true, true, "正在删除照片"}}) {
        rope->setDeleting(c.deleting);
        rope->setImporting(c.importing);
        EXPECT_EQ(rope->terminationBlockReason(), c.reason);
        const DeferredStateExitOutcome outcome = DeferredStateExit::requestQuit(*rope, true);
        EXPECT_EQ(outcome.kind, c.reason ? Kind::refused : Kind::quit);
        EXPECT_EQ(outcome.reason, c.reason);
    }
}

TEST(DeferredStateExit, AFailedFlushOffersRetryDiscardAndCancel) {
    RopeModel rope = ropeWithOwedPlacement();
    const auto raised = rope->clotheslinePlacements().records();
    const QByteArray onDisk = readFile(rope->clotheslinePlacements().file());
    rope.placementsFail->store(true);

    QList<QString> shown;
    QList<DeferredStateExitChoice> answers;
    rope->setDeferredStateAlert([&](const Error& error) {
        shown.append(DeferredStateExit::alertInformativeText(error));
        return answers.takeFirst();
    });

    answers = {DeferredStateExitChoice::cancel};
    EXPECT_EQ(DeferredStateExit::requestQuit(*rope, false).kind, Kind::cancelled);
    EXPECT_TRUE(rope->clotheslinePlacements().deferredWriter().needsSave()) << "cancel keeps the write owed";
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith("叠放顺序或“新照片”标记未写入：") &&
                shown[0].endsWith("\n照片与位置不受影响。"))
        << shown[0].toStdString();
    EXPECT_TRUE(rope->placementError() && rope->placementError()->startsWith("照片位置未保存："));

    answers = {DeferredStateExitChoice::retry, DeferredStateExitChoice::discardAndQuit};
    EXPECT_EQ(DeferredStateExit::requestQuit(*rope, false).kind, Kind::quit);
    EXPECT_EQ(shown.size(), 3) << "retry flushed again and asked again";
    EXPECT_FALSE(rope->clotheslinePlacements().deferredWriter().needsSave());
    EXPECT_EQ(rope->clotheslinePlacements().records(), raised) << "discard keeps the change in memory";
    EXPECT_EQ(readFile(rope->clotheslinePlacements().file()), onDisk) << "only the pending write is lost";
    EXPECT_FALSE(rope->placementError());

    // A retry that works quits without asking again.
    ASSERT_TRUE(rope->bringClotheslinePhotoToFront(rope.photos[1]));
    answers = {DeferredStateExitChoice::retry};
    rope->setDeferredStateAlert([&](const Error&) {
        rope.placementsFail->store(false);
        return answers.takeFirst();
    });
    EXPECT_EQ(DeferredStateExit::requestQuit(*rope, false).kind, Kind::quit);
    EXPECT_NE(readFile(rope->clotheslinePlacements().file()), onDisk);
}

TEST(DeferredStateExit, EndingTheSessionDiscardsWithoutAskingAndTheDefaultStays) {
    RopeModel rope = ropeWithOwedPlacement();
    rope.placementsFail->store(true);
    EXPECT_EQ(DeferredStateExit::requestQuit(*rope, false).kind, Kind::cancelled) << "the default alert";
    int asked = 0;
    rope->setDeferredStateAlert([&](const Error&) {
        ++asked;
        return DeferredStateExitChoice::retry;
    });
    EXPECT_EQ(DeferredStateExit::requestQuit(*rope, true).kind, Kind::quit);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(rope->clotheslinePlacements().deferredWriter().needsSave());

    EXPECT_EQ(DeferredStateExit::alertButtons(), (QStringList{"重试", "放弃并退出", "取消"}));
    for (const auto& [index, choice] :
         {std::pair{0, DeferredStateExitChoice::retry}, std::pair{1, DeferredStateExitChoice::discardAndQuit},
          std::pair{2, DeferredStateExitChoice::cancel}, std::pair{-1, DeferredStateExitChoice::cancel}})
        EXPECT_EQ(DeferredStateExit::choiceForButton(index), choice) << index;
}

TEST(DeferredStateExit, EachWriterClearsItsOwnTextWhenItsFlushSucceeds) {
    RopeModel rope = ropeWithOwedPlacement();
    const QList<Photo>& p = rope.photos;
    rope.placementsFail->store(true);
    rope.interactionsFail->store(true);
    rope->acknowledge({p[0]});
    const Status both = rope->flushDeferredState();
    ASSERT_FALSE(both);
    EXPECT_TRUE(rope->placementError() && rope->placementError()->startsWith("照片位置未保存："));
    ASSERT_TRUE(rope->actionError() && rope->actionError()->startsWith("新照片提示状态未保存："));
    EXPECT_TRUE(rope->actionError()->endsWith(both.error().localizedDescription()))
        << "the interactions error is the one returned";

    rope.interactionsFail->store(false);
    const Status placementsOnly = rope->flushDeferredState();
    ASSERT_FALSE(placementsOnly);
    EXPECT_FALSE(rope->actionError()) << "the interactions flush worked";
    EXPECT_TRUE(rope->placementError());
    EXPECT_TRUE(rope->interactions().isUsed(p[0]));

    rope.placementsFail->store(false);
    EXPECT_TRUE(rope->flushDeferredState());
    EXPECT_FALSE(rope->placementError());

    rope->discardDeferredState();
    EXPECT_FALSE(rope->clotheslinePlacements().deferredWriter().needsSave());
}
