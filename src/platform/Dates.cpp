#include "platform/Dates.h"

#include <QDateTime>

#include <charconv>
#include <mutex>
#include <time.h>

namespace vennimo {

double dateFromTimestamp(std::int64_t unixSeconds, std::uint32_t nanoseconds) {
    return static_cast<double>(unixSeconds - kUnixSecondsAt2001) + static_cast<double>(nanoseconds) * 1e-9;
}

double dateFromUnixSeconds(double unixSeconds) {
    return unixSeconds - static_cast<double>(kUnixSecondsAt2001);
}

double unixSecondsFromDate(double date) {
    return date + static_cast<double>(kUnixSecondsAt2001);
}

QString formatUnixSeconds(double seconds) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    if (ec != std::errc())
        return QString::number(seconds);
    QString text = QString::fromLatin1(buffer, static_cast<int>(end - buffer));
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) &&
        !text.contains(QLatin1Char('n')) && !text.contains(QLatin1Char('i')))
        text += QStringLiteral(".0");
    return text;
}

namespace {
std::mutex g_clockMutex;
std::function<double()> g_clockOverride;
} // namespace

double Clock::now() {
    {
        std::lock_guard lock(g_clockMutex);
        if (g_clockOverride)
            return g_clockOverride();
    }
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return dateFromTimestamp(ts.tv_sec, static_cast<std::uint32_t>(ts.tv_nsec));
}

void Clock::setOverride(std::function<double()> now) {
    std::lock_guard lock(g_clockMutex);
    g_clockOverride = std::move(now);
}

} // namespace vennimo
