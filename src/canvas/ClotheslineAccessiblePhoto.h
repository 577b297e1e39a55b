#pragma once

#include "core/Photo.h"

#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QPointer>

namespace vennimo {

class ClotheslineCanvasView;

// What assistive technologies see of one print on the rope: a button labelled with its state and
// file name, pressed to select the print, with a second action that opens the large preview.
// It asks the canvas for its label and frame each time, so one element serves a print for as
// long as it hangs; once the canvas is gone it does nothing.
class ClotheslineAccessiblePhoto : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    static constexpr auto kHelp = "双击查看大图；右键更多操作";
    static constexpr auto kPreviewAction = "查看大图";

    ClotheslineAccessiblePhoto(ClotheslineCanvasView* canvas, const Photo& photo);

    const Photo& photo() const { return m_photo; }
    void setPhoto(const Photo& photo) { m_photo = photo; }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface* child) const override;
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<ClotheslineCanvasView> m_canvas;
    Photo m_photo;
};

} // namespace vennimo
