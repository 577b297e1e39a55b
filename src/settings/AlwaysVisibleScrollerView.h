#pragma once

#include <QScrollArea>

namespace vennimo {

// A vertical scroll view whose scroller is always drawn and takes its own room, whatever the
// style or desktop says about scroll bars that appear only while scrolling, so a pane shows at
// once that it scrolls. The content is exactly as wide as the visible area, starts at the top
// and keeps its own height; both backgrounds are transparent.
class AlwaysVisibleScrollerView : public QScrollArea {
    Q_OBJECT

public:
    enum class ScrollerStyle { legacy, overlay };

    explicit AlwaysVisibleScrollerView(QWidget* content = nullptr, QWidget* parent = nullptr);
    ~AlwaysVisibleScrollerView() override;

    // Always legacy: a request for overlay scrollers is ignored.
    ScrollerStyle scrollerStyle() const { return ScrollerStyle::legacy; }
    void setScrollerStyle(ScrollerStyle style);
    // Swaps the content, keeping the scroll view itself and its position.
    void setContent(QWidget* content);

    // Takes all the room offered; without any, 600 x 400.
    QSize sizeHint() const override;

private:
    class Style;
    Style* m_style = nullptr;
};

} // namespace vennimo
