#include "settings/AlwaysVisibleScrollerView.h"

#include <QProxyStyle>
#include <QScrollBar>

namespace vennimo {

// Styles with transient scroll bars hide them until the user scrolls; this one never does.
class AlwaysVisibleScrollerView::Style : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_ScrollBar_Transient)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

AlwaysVisibleScrollerView::AlwaysVisibleScrollerView(QWidget* content, QWidget* parent)
    : QScrollArea(parent) {
    m_style = new Style;
    m_style->setParent(this);
    verticalScrollBar()->setStyle(m_style);
    setScrollerStyle(ScrollerStyle::legacy);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    // The content follows the visible width; its height is its own.
    setWidgetResizable(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    if (content)
        setContent(content);
}

AlwaysVisibleScrollerView::~AlwaysVisibleScrollerView() = default;

void AlwaysVisibleScrollerView::setScrollerStyle(ScrollerStyle) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void AlwaysVisibleScrollerView::setContent(QWidget* content) {
    const int position = verticalScrollBar()->value();
    content->setAutoFillBackground(false);
    content->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    if (QWidget* old = takeWidget())
        old->deleteLater();
    setWidget(content);
    verticalScrollBar()->setValue(position);
}

QSize AlwaysVisibleScrollerView::sizeHint() const {
    return {600, 400};
}

} // namespace vennimo
