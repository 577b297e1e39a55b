#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <optional>

namespace vennimo {

// A miniature of a print on the rope, 112 x 120: rope, paper, photo, peg and the gripping hand,
// each drawn or left out, to picture what the hand holds and what the drag image shows.
class DragHelpPicture : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kSize{112, 120};

    struct Parts {
        bool framed = true;
        bool peg = true;
        bool rope = true;
        // Absent: no hand; false: the hand holds the photo; true: it holds the peg.
        std::optional<bool> grip{};
        QColor blue{};
        QColor amber{};
    };

    explicit DragHelpPicture(Parts parts, QWidget* parent = nullptr);

    const Parts& parts() const { return m_parts; }
    // Draws the picture into a painter whose origin is the picture's top left.
    static void draw(QPainter& painter, const Parts& parts);
    // The same with the given peg artwork; without it, the peg is an amber bar.
    static void draw(QPainter& painter, const Parts& parts, const std::optional<QImage>& pegArtwork);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Parts m_parts;
};

} // namespace vennimo
