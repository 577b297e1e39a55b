#include "platform/Appcast.h"

#include "platform/JsonFile.h"

#include <QXmlStreamReader>

namespace vennimo {

namespace {

constexpr auto kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

enum class PartKind { Number, Letters, Separator };

struct Part {
    PartKind kind;
    QString text;
};

QList<Part> splitVersion(const QString& version) {
    QList<Part> parts;
    for (const QChar c : version) {
        const PartKind kind = c.isDigit()    ? PartKind::Number
                              : c.isLetter() ? PartKind::Letters
                                             : PartKind::Separator;
        if (!parts.isEmpty() && parts.last().kind == kind && kind != PartKind::Separator)
            parts.last().text += c;
        else
            parts.append({kind, QString(c)});
    }
    return parts;
}

int compareNumbers(QString a, QString b) {
    while (a.size() > 1 && a.front() == u'0')
        a.remove(0, 1);
    while (b.size() > 1 && b.front() == u'0')
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

} // namespace

int compareVersions(const QString& a, const QString& b) {
    const QList<Part> left = splitVersion(a), right = splitVersion(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Part& l = left[i];
        const Part& r = right[i];
        if (l.kind == r.kind) {
            const int order = l.kind == PartKind::Number    ? compareNumbers(l.text, r.text)
                              : l.kind == PartKind::Letters ? l.text.compare(r.text)
                                                            : 0;
            if (order != 0)
                return order < 0 ? -1 : 1;
            continue;
        }
        // A number outranks letters and separators; letters (a pre-release) rank lowest.
        auto rank = [](PartKind kind) {
            return kind == PartKind::Number ? 2 : kind == PartKind::Separator ? 1 : 0;
        };
        return rank(l.kind) < rank(r.kind) ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    // The longer one is newer when it goes on with a number other than zero ("1.0" = "1.0.0"),
    // older when it goes on with letters (a pre-release).
    const bool leftLonger = left.size() > right.size();
    const QList<Part>& longer = leftLonger ? left : right;
    for (qsizetype next = common; next < longer.size(); ++next) {
        const Part& part = longer[next];
        if (part.kind == PartKind::Separator ||
            (part.kind == PartKind::Number && compareNumbers(part.text, QStringLiteral("0")) == 0))
            continue;
        const bool newer = part.kind == PartKind::Number;
        return newer == leftLonger ? 1 : -1;
    }
    return 0;
}

Result<QList<AppcastItem>> parseAppcast(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    const QString sparkle = QLatin1String(kSparkleNamespace);
    QList<AppcastItem> items;
    bool sawRss = false;
    std::optional<AppcastItem> item;
    int depth = 0;
    // An element whose text is read is left again at once.
    const auto text = [&reader, &depth] {
        --depth;
        return reader.readElementText().trimmed();
    };
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            // The reader keeps every open element: a feed nested without end would take memory in
            // step with its length long before the byte limit stops it.
            if (++depth > kMaxAppcastDepth)
                return decodeError(QStringLiteral("appcast: nested too deeply"));
            const QStringView name = reader.name();
            const bool sparkleElement = reader.namespaceUri() == sparkle;
            if (name == u"rss" && !sparkleElement) {
                sawRss = true;
            } else if (name == u"item" && !sparkleElement) {
                item = AppcastItem{};
            } else if (item && name == u"enclosure") {
                const QXmlStreamAttributes attributes = reader.attributes();
                item->downloadUrl = QUrl(attributes.value(QLatin1String("url")).toString());
                if (attributes.hasAttribute(sparkle, QLatin1String("version")))
                    item->version = attributes.value(sparkle, QLatin1String("version")).toString().trimmed();
                if (attributes.hasAttribute(sparkle, QLatin1String("shortVersionString")))
                    item->displayVersion =
                        attributes.value(sparkle, QLatin1String("shortVersionString")).toString().trimmed();
            } else if (item && sparkleElement && name == u"version") {
                item->version = text();
            } else if (item && sparkleElement && name == u"shortVersionString") {
                item->displayVersion = text();
            } else if (item && sparkleElement && name == u"releaseNotesLink") {
                item->releaseNotesUrl = QUrl(text());
            } else if (item && !sparkleElement && name == u"title") {
                item->title = text();
            } else if (item && !sparkleElement && name == u"link") {
                item->link = QUrl(text());
            }
        } else if (reader.isEndElement() && --depth >= 0 && reader.name() == u"item" && item) {
            if (!item->version.isEmpty()) {
                if (item->displayVersion.isEmpty())
                    item->displayVersion = item->version;
                items.append(*item);
                if (items.size() > kMaxAppcastItems)
                    return decodeError(QStringLiteral("appcast: too many items"));
            }
            item.reset();
        }
    }
    if (reader.hasError())
        return decodeError(QStringLiteral("appcast: ") + reader.errorString());
    if (!sawRss)
        return decodeError(QStringLiteral("appcast: not an RSS feed"));
    return items;
}

std::optional<AppcastItem> newestAppcastItem(const QList<AppcastItem>& items) {
    std::optional<AppcastItem> newest;
    for (const AppcastItem& item : items) {
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = item;
    }
    return newest;
}

} // namespace vennimo
