#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRegion>

class QDrag;

namespace vennimo {

// Qt's own picture of a system drag where no compositing manager blends windows. Qt shows it in a
// window of its own, fills that white under the picture and, in this Qt, never cuts it: a picture
// with clear parts, such as a pile of several prints, would travel on a white box. The drag is
// given the picture cut to its pixels at least half opaque, as the panels are, and Qt's window is
// cut to those pixels as it shows, before the X server maps it.
class DragPictureCut : public QObject {
public:
    // Gives `drag` the picture (nothing when it is null) with its top left `hotSpot` above and left
    // of the pointer; cut when `cut`. It watches for Qt's window while it lives: keep it until the
    // drag's exec has answered.
    DragPictureCut(QDrag& drag, const QImage& picture, QPoint hotSpot, bool cut);
    ~DragPictureCut() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What of Qt's window shows, in its logical pixels.
    QRegion m_shown;
    bool m_cut = false;
};

} // namespace vennimo
