#include "canvas/ClotheslineCanvasView.h"
#include "canvas/RopeFixture.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "rendering/PolaroidRenderer.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <gtest/gtest.h>

#include <optional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr int kShapes = 200;
constexpr auto kScaleVariable = "QT_SCALE_FACTOR";

class ClotheslineCanvasFrameCostTest : public testing::Test {
protected:
    void SetUp() override {
        ReduceMotion::setReader([] { return std::optional<bool>(false); });
    }
    void TearDown() override { ReduceMotion::setReader({}); }
};

int slotWrites(const ClotheslineCanvasView& canvas) {
    int writes = 0;
    for (const ClotheslinePhotoSlot& slot : canvas.photoSlots())
        writes += slot.writes();
    return writes;
}

// Nothing drawn and no frame asked for over a quiet spell: every paper, blank paper and badge
// that was coming has come.
bool settled(ClotheslineCanvasView& canvas) {
    return QTest::qWaitFor(
        [&] {
            const int renders = PolaroidRenderer::renderCount();
            const int frames = canvas.scheduledFrameCount();
            QTest::qWait(500);
            return renders == PolaroidRenderer::renderCount() && frames == canvas.scheduledFrameCount();
        },
        60000);
}

} // namespace

// Papers, pegs and badges of a rope of more shapes than the renderer's caches hold: a frame over
// prints that did not change draws none of them again, at the display's scale, new and selected.
TEST_F(ClotheslineCanvasFrameCostTest, FramesOverARopeOfManyShapesDrawNothingAgain) {
    const bool doubled = qEnvironmentVariable(kScaleVariable) == QLatin1String("2");
    PolaroidRenderer::clearCaches();
    Rope rope(kShapes, false, {}, [](int i) { return QSize(100 + i, 75); });
    QList<std::pair<int, double>> moves;
    for (int i = 0; i < kShapes; ++i)
        moves.append({i, double(i) / (kShapes - 1)});
    rope.place(moves);
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_EQ(canvas.paperScale(), doubled ? 2.0 : 1.0);
    const QList<Photo> photos = rope.model->photos();
    ASSERT_TRUE(rope.waitForRest(30000));
    ASSERT_TRUE(settled(canvas)) << "papers still coming";
    ASSERT_EQ(canvas.photoSlots().size(), kShapes);

    for (const bool selecting : {false, true}) {
        SCOPED_TRACE(selecting ? "selected" : "new");
        if (selecting) {
            rope.model->setSelection(photos);
            rope.settleUpdates();
            ASSERT_TRUE(settled(canvas));
        }
        const int renders = PolaroidRenderer::renderCount();
        const int writes = slotWrites(canvas);
        for (int frame = 0; frame < 3; ++frame) {
            canvas.invalidateFrame();
            canvas.repaint();
        }
        EXPECT_EQ(PolaroidRenderer::renderCount() - renders, 0) << "bitmaps drawn again";
        EXPECT_EQ(slotWrites(canvas) - writes, 0) << "prints given another image";
    }

    // The same rope on a display of twice the pixels, where every bitmap costs four times the bytes.
    if (doubled)
        return;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kScaleVariable), QStringLiteral("2"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral(
            "--gtest_filter=ClotheslineCanvasFrameCostTest.FramesOverARopeOfManyShapesDrawNothingAgain")});
    ASSERT_TRUE(child.waitForFinished(240'000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

// A pile of prints in one place keeps papers of their own only for the prints whose photos show:
// the rest show the blank paper of their shape, one for all prints of a shape, and a print that
// comes out from under the pile shows its own paper again.
TEST_F(ClotheslineCanvasFrameCostTest, APileKeepsPapersOfTheirOwnOnlyForThePhotosThatShow) {
    PolaroidRenderer::clearCaches();
    constexpr int kPile = 24;
    Rope rope(kPile, false, {}, [](int i) { return i % 2 ? QSize(120, 90) : QSize(90, 120); });
    QList<std::pair<int, double>> moves;
    for (int i = 0; i < kPile; ++i)
        moves.append({i, 0.5});
    rope.place(moves);
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_TRUE(rope.waitForRest(30000));
    ASSERT_TRUE(settled(canvas)) << "papers still coming";
    const QList<Photo> photos = rope.model->photos();
    ASSERT_EQ(canvas.photoSlots().size(), kPile);
    const auto paperOf = [&](int i) { return canvas.photoSlots().value(photos[i].id).content().paper; };
    // The prints whose paper no other print shows, and how many papers there are in all.
    const auto ownPapers = [&] {
        QHash<qint64, int> uses;
        for (const ClotheslinePhotoSlot& slot : canvas.photoSlots())
            ++uses[slot.content().paper.cacheKey()];
        QSet<int> own;
        for (int i = 0; i < kPile; ++i)
            if (uses.value(paperOf(i).cacheKey()) == 1)
                own.insert(i);
        return std::pair(own, uses.size());
    };
    const auto [own, papers] = ownPapers();
    EXPECT_TRUE(own.contains(kPile - 1)) << "the front print shows its own paper";
    EXPECT_LT(own.size(), kPile / 2) << "prints under the pile keep papers of their own";
    EXPECT_LE(papers, own.size() + 2) << "more blank papers than shapes";
    for (int i = 0; i < kPile; ++i)
        EXPECT_NE(paperOf(i).cacheKey(), PolaroidRenderer::emptyPaper().cacheKey()) << "print " << i;
    // The arrival badges: one drawing for papers of both shapes, cut to the corner it paints and
    // laid at each paper's own corner.
    QSet<qint64> badges;
    std::optional<QPointF> corner;
    for (const ClotheslinePhotoSlot& slot : canvas.photoSlots()) {
        const ClotheslinePhotoSlot::Content& content = slot.content();
        ASSERT_FALSE(content.overlay.isNull()) << "a new print without its badge";
        badges.insert(content.overlay.cacheKey());
        EXPECT_LT(qint64(content.overlay.width()) * content.overlay.height(),
                  qint64(content.paper.width()) * content.paper.height() / 8);
        EXPECT_TRUE(QRectF(QPointF(), content.frame.size()).contains(content.overlayArea));
        const QPointF offset = content.overlayArea.topLeft() - content.paperRect.topLeft();
        corner = corner.value_or(offset);
        EXPECT_NEAR(offset.x(), corner->x(), 1.0) << "a badge away from its paper's corner";
        EXPECT_EQ(offset.y(), corner->y());
    }
    EXPECT_EQ(badges.size(), 1);

    rope.place({{kPile - 1, 0.02}});
    ASSERT_TRUE(rope.waitForRest(30000));
    ASSERT_TRUE(settled(canvas));
    EXPECT_TRUE(ownPapers().first.contains(kPile - 2)) << "the print now in front shows a blank paper";
}

namespace {

// Counts the canvas's paints that take in all of it.
class WholePaints : public QObject {
public:
    explicit WholePaints(QWidget* canvas)
        : m_canvas(canvas) {
        canvas->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_canvas && event->type() == QEvent::Paint &&
            static_cast<QPaintEvent*>(event)->region().boundingRect().contains(m_canvas->rect()))
            ++count;
        return false;
    }

private:
    QWidget* m_canvas;
};

} // namespace

// Every paper and blank paper that comes ready asked for a pass over the whole rope and a repaint
// of the whole window: with a thousand real photos arriving, pictures times prints. Now only the
// print whose picture came is drawn again.
TEST_F(ClotheslineCanvasFrameCostTest, APictureThatComesReadyDrawsItsPrintAgainNotTheRope) {
    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    PolaroidRenderer::clearCaches();
    constexpr int kPrints = 12;
    Rope rope(kPrints, false, {}, [](int i) { return QSize(100 + 13 * i, 75); });
    QList<std::pair<int, double>> moves;
    for (int i = 0; i < kPrints; ++i)
        moves.append({i, double(i) / (kPrints - 1)});
    rope.place(moves);
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    const int framesAtShow = canvas.scheduledFrameCount();
    WholePaints whole(&canvas);
    ASSERT_TRUE(settled(canvas)) << "papers still coming";
    ASSERT_GT(canvas.scheduledFrameCount(), framesAtShow) << "no picture came ready after the rope showed";
    EXPECT_EQ(whole.count, 0) << "a picture coming ready drew the whole rope again";
    for (const ClotheslinePhotoSlot& slot : canvas.photoSlots())
        EXPECT_FALSE(slot.coveredRect().isEmpty()) << "every print shows its paper";
}
