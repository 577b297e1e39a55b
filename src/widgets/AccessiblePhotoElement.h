#pragma once

#include <QAccessibleActionInterface>
#include <QAccessibleInterface>

namespace vennimo {

// A photo that a widget draws itself, as assistive technologies see it: a leaf with two actions,
// the press that acts as a click on it and "查看大图" that opens the large preview. Subclasses
// say what the photo is called, where it lies and what its actions do.
class AccessiblePhotoElement : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    static constexpr auto kPreviewAction = "查看大图";

    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

protected:
    enum class Action { press, preview };
    virtual void perform(Action action) = 0;
};

} // namespace vennimo
