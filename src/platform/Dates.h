#pragma once

#include <QString>

#include <cstdint>
#include <functional>

namespace vennimo {

// Dates throughout the system are seconds since 2001-01-01 00:00:00 UTC as a double, the form
// the state files store. File dates must all go through `dateFromTimestamp`, since exact
// comparisons of modification and creation dates only hold when every reader converts alike.
inline constexpr std::int64_t kUnixSecondsAt2001 = 978307200;

double dateFromTimestamp(std::int64_t unixSeconds, std::uint32_t nanoseconds);
double dateFromUnixSeconds(double unixSeconds);
double unixSecondsFromDate(double date);

// Seconds since 1970 printed in the shortest form that reads back, always with a fractional
// part ("290.0", "1.5").
QString formatUnixSeconds(double seconds);

// The clock the system reads "now" from; tests replace it.
class Clock {
public:
    static double now();
    // Replaces the clock until reset with an empty function.
    static void setOverride(std::function<double()> now);
};

} // namespace vennimo
