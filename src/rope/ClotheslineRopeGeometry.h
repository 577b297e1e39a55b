#pragma once

#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>
#include <vector>

class QPainter;

namespace vennimo {

// The two knots at the rope's ends, which are also the rope window's resize handles.
enum class ClotheslineKnotEdge : int { left = 0, right = 1 };
inline constexpr std::array<ClotheslineKnotEdge, 2> kAllClotheslineKnotEdges{ClotheslineKnotEdge::left,
                                                                             ClotheslineKnotEdge::right};

// The rope on the canvas (y down, canvas points): the resting curve is a parabola through the
// two ends at y 24 that sags 30 points in the middle, and the physics' sample displacements are
// added on top. Prints hang with their peg on the rope between the two outermost peg positions;
// the rope reaches 30 points beyond them to the knots.
struct ClotheslineRopeGeometry {
    static constexpr double kEndY = 24;
    static constexpr double kRestingSagFactor = 120; // 4 x the middle sag of 30 points
    static constexpr double kEndOverhang = 30;
    static constexpr QSizeF kKnotSize{28, 26};
    static constexpr double kContactTolerance = 16;
    static constexpr double kLockedContactTolerance = 28;
    static constexpr double kStrandWidth = 2.6;
    static constexpr double kTackSizePoints = 32;

    double width = 0;
    double inset = 0;
    // Empty for the resting rope.
    std::vector<double> displacement{};

    bool operator==(const ClotheslineRopeGeometry&) const = default;

    // The x of the peg anchor of a default print on its own canvas.
    static double pegX();
    // The default print's width.
    static double printWidth();

    // The range over which a print's left edge may lie; at least 1 so every formula stays finite.
    double usableSpan() const;
    QPointF leftEnd() const;
    QPointF rightEnd() const;

    // The point at a rope parameter, clamped to [0, 1].
    QPointF pointAlong(double t) const;
    // The rope between two rope parameters: the exact resting curve without samples, else the
    // polyline through the samples.
    QPainterPath strand(double from, double to) const;
    // The rope parameter under the peg of a print at placement x (0 to 1).
    double supportFraction(double x) const;
    // Left knot, then right knot.
    std::array<QRectF, 2> knotRects() const;
    std::optional<ClotheslineKnotEdge> knotEdge(QPointF point) const;
    // Whether a peg outline (canvas coordinates) lies within `tolerance` of the strand between
    // the outermost peg positions; a peg over a knot never touches.
    bool touches(const QPainterPath& peg, double tolerance) const;

    // Strokes a strand in three passes: dark body, lighter core, highlight.
    static void drawStrand(QPainter& painter, const QPainterPath& path);
    // The brass tack drawn at each rope end: 32 x 32 points at 4 pixels per point. Made once.
    static const QImage& brassTack();
    // The tack image from the given artwork, or the drawn brass sphere without one.
    static QImage makeBrassTack(const std::optional<QImage>& artwork);
    // Where the tack is drawn: a 32-point square centred on each end.
    std::array<QRectF, 2> tackRects() const;
    // The whole rope as the canvas paints it: strand from end to end, then both tacks.
    void draw(QPainter& painter) const;
};

} // namespace vennimo
