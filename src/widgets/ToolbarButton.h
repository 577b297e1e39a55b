#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>

namespace vennimo {

// A button of the rope toolbar: its label (the text, or what a subclass paints) on the toolbar
// button style's surface, whose fill follows hover and press with a short ease-out, or at once
// while the desktop asks for reduced motion.
class ToolbarButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToolbarButton(const QString& text = {}, QWidget* parent = nullptr);

    bool hovered() const { return m_hovered; }
    // The fill the surface shows now and the one it is heading for.
    double fillOpacity() const { return m_fill; }
    double targetFillOpacity() const;
    // A text that the label reserves room for, so its width does not change between texts.
    void setReservedTexts(const QStringList& texts);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    // The label's own size and drawing, inside the style's padding.
    virtual QSize labelSize() const;
    virtual void paintLabel(QPainter& painter, const QRectF& rect);

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void followFill();

    bool m_hovered = false;
    double m_fill = 0;
    QVariantAnimation m_fillAnimation;
    QStringList m_reservedTexts;
};

} // namespace vennimo
