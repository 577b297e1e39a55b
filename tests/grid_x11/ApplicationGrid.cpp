#include "ApplicationGrid.h"

#include "canvas_x11/ApplicationRope.h"
#include "grid/PhotoCard.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace vennimo::test {

QRect Cards::card(int index) const {
    return layout.cardRect(index).translated(window.left(), top - PhotoGridLayout::kPadding).toRect();
}

QRect Cards::picture(int index) const {
    const QRect c = card(index);
    return QRect(c.left() + 20, c.top() + 20, c.width() - 40, int(PhotoCard::kThumbnailHeight) - 40);
}

QRect Cards::pictureOf(int index, QSize photoSize) const {
    const QRectF cardRect = layout.cardRect(index).translated(window.left(), top - PhotoGridLayout::kPadding);
    const QRectF target = PhotoCard::imageRect(PhotoCard::thumbnailRect(cardRect), QSizeF(photoSize));
    return QRect(int(std::round(target.x())), int(std::round(target.y())), int(std::round(target.width())),
                 int(std::round(target.height())));
}

std::optional<Cards> findCards(const QRect& window, int count) {
    Cards cards{window, PhotoGridLayout(window.width(), PhotoCard::height(), count), 0};
    const int x = int(cards.layout.cardRect(0).center().x());
    const int from = window.top() - 15;
    const QImage column = grabScreenArea(QRect(window.left() + x, from, 1, 260));
    // The window's own colour, in the padding left of the header.
    const QColor background = grabScreenArea(QRect(window.left() + 6, window.top(), 1, 1)).pixelColor(0, 0);
    for (int y = 0; y < 256; ++y) {
        const QColor c = column.pixelColor(0, y);
        if (qGray(c.rgb()) - qGray(background.rgb()) > 8) {
            cards.top = from + y - int(PhotoCard::kPadding);
            return cards;
        }
    }
    return std::nullopt;
}

double spread(const QImage& image) {
    double sum = 0;
    double squares = 0;
    int n = 0;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) {
            const double g = qGray(image.pixel(x, y));
            sum += g;
            squares += g * g;
            ++n;
        }
    const double mean = sum / n;
    return std::sqrt(std::max(0.0, squares / n - mean * mean));
}

std::optional<QRect> switchToGrid(qint64 pid) {
    std::optional<QRect> rope = applicationWindow(pid);
    if (!rope)
        return std::nullopt;
    const int collapsedHeight = rope->height();
    const auto click = [](QPoint p) {
        return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 150) &&
               xdotool({"click", "1"}, 400);
    };
    // A busy machine can lose the click while the rope still routes the pointer: once more then.
    // A print already chosen has brought the toolbar, which a click on it could take away.
    std::optional<std::pair<int, int>> ends = capsuleEnds(*rope);
    bool grown = ends.has_value();
    for (int attempt = 0; attempt < 3 && !grown; ++attempt) {
        if (!click(rope->topLeft() + QPoint(rope->width() / 2, 8 + 190)))
            return std::nullopt;
        grown = QTest::qWaitFor(
            [&] {
                const std::optional<QRect> now = applicationWindow(pid);
                if (now && now->height() > collapsedHeight)
                    rope = now;
                return now && now->height() > collapsedHeight;
            },
            10000);
    }
    if (!grown) {
        ADD_FAILURE() << "a click on the print brought no toolbar";
        return std::nullopt;
    }
    if (!ends && !QTest::qWaitFor([&] { return (ends = capsuleEnds(*rope)).has_value(); }, 30000)) {
        ADD_FAILURE() << "the toolbar does not show";
        return std::nullopt;
    }
    if (!click(QPoint(ends->second - 15 - 30 - 6 - 26, rope->top() + 8 + 22)))
        return std::nullopt;
    std::optional<QRect> grid;
    if (!QTest::qWaitFor(
            [&] {
                grid = applicationWindow(pid);
                return grid && grid->height() >= 520 && grid->width() >= 900;
            },
            30000))
        return std::nullopt;
    // The rope hung at the top of the screen; the grid's title bar still comes on the screen.
    QString id;
    QRect client;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            id = widestWindowId(pid);
            client = clientAreaOf(id);
            return client.top() >= QGuiApplication::primaryScreen()->availableGeometry().top() + 10;
        },
        30000))
        << "the title bar is above the screen: window " << id.toStdString() << " has its client area at "
        << client.x() << "," << client.y() << " " << client.width() << "x" << client.height();
    return applicationWindow(pid);
}

} // namespace vennimo::test
