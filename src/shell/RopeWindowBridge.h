#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>

namespace vennimo {

class GalleryWindow;

// Hands the rope screen's pointer-taking rectangles to the gallery window's click-through
// routing; the window redoes its hit tests only when the list changed.
class RopeWindowBridge : public QObject {
    Q_OBJECT

public:
    explicit RopeWindowBridge(GalleryWindow* window, QObject* parent = nullptr);

    void setAreas(const QList<QRectF>& areas);
    const QList<QRectF>& areas() const { return m_areas; }

private:
    QPointer<GalleryWindow> m_window;
    QList<QRectF> m_areas;
};

} // namespace vennimo
