#pragma once

#include <QImage>
#include <QRegion>

namespace vennimo {

// What a borderless panel shows where no compositing manager blends windows: a window's alpha
// is then ignored, so the panel is cut to the pixels of its picture that are at least half
// opaque and those are drawn fully opaque. Soft shadows and the faint part of an antialiased
// edge fall outside; nothing half transparent turns dark on screen.
class AlphaMaskedPicture {
public:
    static constexpr int kMinimumAlpha = 128;

    AlphaMaskedPicture() = default;
    // `picture`: the panel's whole content at its device pixel ratio.
    explicit AlphaMaskedPicture(const QImage& picture);

    bool isNull() const { return m_image.isNull(); }
    // Opaque where shown, clear elsewhere, at the picture's device pixel ratio.
    const QImage& image() const { return m_image; }
    // The shown pixels in logical (device independent) coordinates, as QWidget::setMask takes it.
    const QRegion& region() const { return m_region; }

private:
    QImage m_image;
    QRegion m_region;
};

} // namespace vennimo
