#pragma once

#include <optional>

namespace vennimo {

// What the clothesline chrome needs of the gallery window: its rope state and the one call that
// sets the rope window's height and canvas position.
class GalleryWindowPort {
public:
    virtual ~GalleryWindowPort() = default;

    // Stores the requested rope layout and applies it unless a gesture holds it back.
    virtual void setClotheslineLayout(double height, double canvasTop) = 0;
    // True in rope style, false in grid style, nothing before a style was chosen.
    virtual std::optional<bool> clotheslineStyle() const = 0;
    // The canvas top currently applied.
    virtual double clotheslineCanvasTop() const = 0;
    virtual bool clotheslineDragActive() const = 0;
    virtual bool clotheslineRepositionActive() const = 0;
    virtual bool knotResizeActive() const = 0;
};

} // namespace vennimo
