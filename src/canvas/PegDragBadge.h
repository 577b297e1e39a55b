#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <memory>

namespace vennimo {

// The small red count beside the pointer while several prints lifted by their pegs are over a
// file manager or the desktop, so the user sees how many files are about to move.
class PegDragBadge {
public:
    static constexpr double kFontPoints = 12;
    static constexpr double kHeight = 20;
    static constexpr double kMinimumWidth = 20;
    static constexpr double kTextMargin = 10;
    static constexpr QPointF kOffset{10, 8};

    // A `masked` badge, for a desktop where nothing composites windows, is cut to its outline.
    explicit PegDragBadge(int count, bool masked = false);
    ~PegDragBadge();
    PegDragBadge(const PegDragBadge&) = delete;
    PegDragBadge& operator=(const PegDragBadge&) = delete;

    // Shown only over a native destination and for two prints or more; `at` is the pointer.
    void update(bool external, QPointF at);
    void close();

    int count() const { return m_count; }
    bool masked() const { return m_masked; }
    bool visible() const { return m_visible; }
    bool closed() const { return m_closed; }
    QWidget* panel() const { return m_panel.get(); }
    // The badge's picture at one pixel per point.
    static QImage image(int count);
    static double width(int count);

private:
    int m_count;
    bool m_masked;
    std::unique_ptr<QWidget> m_panel;
    bool m_visible = false;
    bool m_closed = false;
};

} // namespace vennimo
