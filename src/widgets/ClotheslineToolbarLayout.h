#pragma once

#include "widgets/ClotheslineToolbarGeometry.h"

#include <QElapsedTimer>
#include <QLayout>
#include <QList>
#include <QTimer>

#include <array>

namespace vennimo {

// Lays out the rope toolbar's six children: 0 the capsule background, 1 the leading item (175
// wide, or as wide as its size hint where that is more), 2 the optional item left of the anchor,
// 3 the anchor, 4 the optional item right of it, 5 the trailing item. The frames come from
// ClotheslineToolbarGeometry over the measured widths of children 2 to 5; a hidden child measures
// 0 wide. After animateNextChange() the next change of the frames plays as a spring instead of a
// jump.
class ClotheslineToolbarLayout : public QLayout {
    Q_OBJECT

public:
    static constexpr int kChildCount = 6;
    static constexpr double kBarHeight = 44;
    static constexpr double kProposedWidth = 760;
    static constexpr double kItemHeight = 32;
    static constexpr double kSpringResponseSeconds = 0.46;
    static constexpr double kSpringDampingFraction = 0.68;
    static constexpr std::chrono::milliseconds kFrameInterval{16};

    explicit ClotheslineToolbarLayout(QWidget* parent = nullptr);
    ~ClotheslineToolbarLayout() override;

    // The spring's progress from 0 to 1 at a time after its start; it overshoots a little.
    static double springProgress(double seconds);

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

    void animateNextChange() { m_animateNext = true; }
    bool animating() const { return m_timer.isActive(); }
    ClotheslineToolbarGeometry toolbarGeometry() const;
    // The frames the children are heading for (where they are once no spring runs).
    const std::array<QRectF, kChildCount>& targetFrames() const { return m_target; }

private:
    void place(const std::array<QRectF, kChildCount>& frames);
    void step();

    QList<QLayoutItem*> m_items;
    std::array<QRectF, kChildCount> m_target{};
    std::array<QRectF, kChildCount> m_from{};
    std::array<QRectF, kChildCount> m_shown{};
    bool m_placed = false;
    bool m_animateNext = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

} // namespace vennimo
