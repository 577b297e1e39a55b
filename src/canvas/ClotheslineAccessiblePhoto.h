#pragma once

#include "core/Photo.h"

#include "widgets/AccessiblePhotoElement.h"

#include <QPointer>

namespace vennimo {

class ClotheslineCanvasView;

// What assistive technologies see of one print on the rope: a button labelled with its state and
// file name, pressed to select the print, with a second action that opens the large preview.
// It asks the canvas for its label and frame each time, so one element serves a print for as
// long as it hangs; once the canvas is gone it does nothing.
class ClotheslineAccessiblePhoto : public AccessiblePhotoElement {
public:
    static constexpr auto kHelp = "双击查看大图；右键更多操作";

    ClotheslineAccessiblePhoto(ClotheslineCanvasView* canvas, const Photo& photo);

    const Photo& photo() const { return m_photo; }
    void setPhoto(const Photo& photo) { m_photo = photo; }

    bool isValid() const override;
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override;

protected:
    void perform(Action action) override;

private:
    QPointer<ClotheslineCanvasView> m_canvas;
    Photo m_photo;
};

} // namespace vennimo
