#pragma once

#include <QImage>
#include <QRegion>

namespace vennimo {

// What a borderless panel shows where no compositing manager blends windows: a window's alpha
// is then ignored, so the panel is cut to the pixels of its picture that show (shows()) and those
// are drawn fully opaque. Soft shadows, however many add up, and the faint part of an antialiased
// edge fall outside; nothing half transparent turns dark on screen.
class AlphaMaskedPicture {
public:
    static constexpr int kMinimumAlpha = 128;

    // Whether a premultiplied pixel shows: at least half opaque, and not a shadow's. The X server
    // shows what is kept as it stands, without its alpha, so a translucent dark pixel, as where the
    // shadows of a pile of prints add up beyond half, would show black where the desktop belongs.
    // A translucent pixel shows only when its own colour, its alpha taken out, is at least a
    // quarter bright.
    static constexpr bool shows(quint32 premultiplied) {
        const quint32 alpha = premultiplied >> 24;
        if (alpha < quint32(kMinimumAlpha))
            return false;
        if (alpha == 255)
            return true;
        const quint32 red = (premultiplied >> 16) & 0xff;
        const quint32 green = (premultiplied >> 8) & 0xff;
        const quint32 blue = premultiplied & 0xff;
        const quint32 brightest = red > green ? (red > blue ? red : blue) : (green > blue ? green : blue);
        return brightest * 4 >= alpha;
    }

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
