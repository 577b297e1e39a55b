#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

namespace vennimo {

// One release offered by an update feed (an RSS "appcast" with the sparkle namespace).
struct AppcastItem {
    QString title{};
    // The build version compared against the running one, and the version shown to people.
    QString version{};
    QString displayVersion{};
    QUrl downloadUrl{};
    QUrl releaseNotesUrl{};
    QUrl link{};

    bool operator==(const AppcastItem&) const = default;
};

// Feeds longer than this are no feeds of ours.
inline constexpr int kMaxAppcastItems = 1000;
// A feed is rss, channel, item and one element inside it; room to spare, but no more.
inline constexpr int kMaxAppcastDepth = 32;

// The items that name a version, in feed order; fails on XML that is not an RSS feed.
Result<QList<AppcastItem>> parseAppcast(const QByteArray& xml);
// The newest item, by version; nothing when the list is empty.
std::optional<AppcastItem> newestAppcastItem(const QList<AppcastItem>& items);
// Negative, zero or positive as `a` is older than, the same as or newer than `b`. Numbers
// compare by value, a number is newer than letters in the same place ("1.0" > "1.0b2"), and a
// version that goes on with a number is newer than one that stops ("1.0.1" > "1.0").
int compareVersions(const QString& a, const QString& b);

} // namespace vennimo
