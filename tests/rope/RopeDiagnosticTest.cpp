#include "rope/RopeDiagnostic.h"
#include "platform/Logging.h"

#include <QLoggingCategory>
#include <QStringList>
#include <gtest/gtest.h>

#include <functional>

using namespace vennimo;

namespace {

QStringList* g_lines = nullptr;

void record(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (g_lines && context.category && QByteArray(context.category).endsWith("rope-diagnostic"))
        g_lines->append(message);
}

QStringList linesOf(const std::function<void()>& work) {
    QStringList lines;
    g_lines = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(record);
    work();
    qInstallMessageHandler(previous);
    g_lines = nullptr;
    return lines;
}

} // namespace

// A drag writes a dozen diagnostic lines: nobody sees them unless they asked for them.
TEST(RopeDiagnostic, StaysQuietUntilAskedForAndThenWritesEachEvent) {
    const auto drag = [] {
        RopeDiagnostic::event("WindowRouting", QStringLiteral("ignored=true x=1.0 y=2.5"));
    };
    EXPECT_TRUE(linesOf(drag).isEmpty()) << "off by default";

    // The environment switch a user sets before starting the application.
    qputenv("VENNIMO_ROPE_DIAGNOSTICS", "1");
    applyDiagnosticSwitch();
    qunsetenv("VENNIMO_ROPE_DIAGNOSTICS");
    EXPECT_EQ(linesOf(drag), QStringList{"WindowRouting ignored=true x=1.0 y=2.5"});

    // The same rule a user gives through QT_LOGGING_RULES.
    QLoggingCategory::setFilterRules(QStringLiteral("com.tavrun.vennimo-gallery.rope-diagnostic.info=false"));
    EXPECT_TRUE(linesOf(drag).isEmpty());
    QLoggingCategory::setFilterRules(QString());
}
