#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QString>

namespace vennimo {

class ClotheslineCanvasView;

// The canvas as assistive technologies see it: a group with the two rope actions of its blank
// menu, and one child per print that can be seen (ClotheslineAccessiblePhoto). A print keeps its
// element while it hangs, since clients hold on to elements by their registered ids.
class ClotheslineCanvasAccessible : public QAccessibleWidget {
public:
    static constexpr auto kHelp = "右键空白处：普通窗口、设置";
    static constexpr auto kSwitchToNormalAction = "普通窗口";
    static constexpr auto kOpenSettingsAction = "设置";

    explicit ClotheslineCanvasAccessible(ClotheslineCanvasView* canvas);
    ~ClotheslineCanvasAccessible() override;

    // Makes every canvas answer with this interface; once per process.
    static void installFactory();

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    ClotheslineCanvasView* canvas() const;
    QAccessibleInterface* element(qsizetype index) const;

    mutable QHash<QString, QAccessible::Id> m_elements;
};

} // namespace vennimo
