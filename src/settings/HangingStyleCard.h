#pragma once

#include "rope/HangingStyle.h"

#include <QAbstractButton>

class QLabel;

namespace vennimo {

class HangingMotionPreview;

// One card of the hanging pane: the style's animated miniature, its title with a selection
// mark, and a one-line description, on a rounded tinted plate that follows the selection.
class HangingStyleCard : public QAbstractButton {
    Q_OBJECT

public:
    explicit HangingStyleCard(HangingStyle style, QWidget* parent = nullptr);

    const HangingStyle& style() const { return m_style; }
    HangingMotionPreview* preview() const { return m_preview; }
    // The pane's own words for a style, chosen by its two fields.
    static QString description(const HangingStyle& style);
    void setSelected(bool selected);
    bool selected() const { return m_selected; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    HangingStyle m_style;
    HangingMotionPreview* m_preview = nullptr;
    QLabel* m_mark = nullptr;
    bool m_selected = false;
};

} // namespace vennimo
