#pragma once

#include "canvas/RopeHitRegion.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace vennimo {

// Collects the pointer-taking rectangles of the rope screen: each publisher is a widget whose
// frame, while it is visible, is one region in the space widget's coordinates, in the order the
// publishers were added. Moving, resizing, showing or hiding a publisher republishes the list on
// the next event-loop turn, and `changed` is emitted only when the list differs from the last.
class RopeHitAreas : public QObject {
    Q_OBJECT

public:
    explicit RopeHitAreas(QWidget* space);

    void add(QWidget* publisher, bool photo = false);
    // The regions as the publishers lie now.
    QList<RopeHitRegion> collect() const;
    const QList<RopeHitRegion>& published() const { return m_published; }
    int publishCount() const { return m_publishCount; }

    // Collects now and emits `changed` when the list differs from the last one.
    void publish();
    void schedulePublish();

    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void changed(const QList<vennimo::RopeHitRegion>& regions);

private:
    struct Publisher {
        QPointer<QWidget> widget;
        bool photo = false;
    };
    QPointer<QWidget> m_space;
    QList<Publisher> m_publishers;
    QList<RopeHitRegion> m_published;
    bool m_scheduled = false;
    int m_publishCount = 0;
};

} // namespace vennimo
