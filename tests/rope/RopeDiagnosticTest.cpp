#include "rope/RopeDiagnostic.h"
#include "platform/DisplayLink.h"
#include "rope/RopeDisplayLinkTarget.h"

#include <QLoggingCategory>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace vennimo {
namespace {

struct Captured {
    QtMsgType type;
    QString category;
    QString message;
};
std::vector<Captured>* g_captured = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_captured)
        g_captured->push_back({type, QString::fromUtf8(context.category), message});
}

TEST(RopeDiagnostic, EventWritesASignpostAndAnInfoLine) {
    std::vector<Captured> captured;
    g_captured = &captured;
    QLoggingCategory::setFilterRules(QStringLiteral("com.tavrun.vennimo-gallery.*=true"));
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    RopeDiagnostic::event("ContactChanged", QStringLiteral("touching=true x=0.25 source=canvas"));
    RopeDiagnostic::event("DestinationEntered", QStringLiteral("catcher"));
    qInstallMessageHandler(previous);
    g_captured = nullptr;

    ASSERT_EQ(captured.size(), 4u);
    EXPECT_EQ(captured[0].category, QStringLiteral("com.tavrun.vennimo-gallery.signpost"));
    EXPECT_EQ(captured[0].message, QStringLiteral("ContactChanged touching=true x=0.25 source=canvas"));
    EXPECT_EQ(captured[1].type, QtInfoMsg);
    EXPECT_EQ(captured[1].category, QStringLiteral("com.tavrun.vennimo-gallery.rope-diagnostic"));
    EXPECT_EQ(captured[1].message, QStringLiteral("ContactChanged touching=true x=0.25 source=canvas"));
    EXPECT_EQ(captured[3].message, QStringLiteral("DestinationEntered catcher"));
}

class FakeCanvas : public QObject, public RopePhysicsCanvas {
public:
    void physicsFrame(DisplayLink& link) override {
        frames.push_back(link.targetTimestamp() - link.timestamp());
    }
    std::vector<double> frames;
};

TEST(RopeDisplayLinkTarget, TicksReachTheCanvasOnlyWhileItLives) {
    auto target = std::make_shared<RopeDisplayLinkTarget>();
    // The link keeps the target alive; the target only points at the canvas.
    DisplayLink link([target](DisplayLink& l) { target->tick(l); });
    link.deliverFrame(1, 1.016);
    auto canvas = std::make_unique<FakeCanvas>();
    target->setCanvas(canvas.get());
    link.deliverFrame(2, 2.016);
    ASSERT_EQ(canvas->frames.size(), 1u) << "no canvas yet for the first frame";
    EXPECT_NEAR(canvas->frames[0], 0.016, 1e-12);

    QObject notACanvas;
    target->setCanvas(&notACanvas);
    link.deliverFrame(3, 3.016);
    EXPECT_EQ(canvas->frames.size(), 1u);

    target->setCanvas(canvas.get());
    canvas.reset();
    EXPECT_EQ(target->canvas(), nullptr) << "held weakly";
    link.deliverFrame(4, 4.016);
}

TEST(DisplayLink, RunsFramesOnTheMonotonicClockUntilInvalidated) {
    std::vector<double> stamps;
    DisplayLink link([&stamps](DisplayLink& l) {
        stamps.push_back(l.timestamp());
        EXPECT_NEAR(l.targetTimestamp() - l.timestamp(), DisplayLink::kFrameIntervalSeconds, 1e-12);
    });
    EXPECT_FALSE(link.isRunning());
    link.start();
    EXPECT_TRUE(link.isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&stamps] { return stamps.size() >= 3; }, 1000));
    link.invalidate();
    EXPECT_FALSE(link.isRunning());
    for (std::size_t i = 1; i < stamps.size(); ++i)
        EXPECT_GT(stamps[i], stamps[i - 1]);
    const std::size_t count = stamps.size();
    QTest::qWait(40);
    EXPECT_EQ(stamps.size(), count) << "no frames after invalidate";
}

} // namespace
} // namespace vennimo
