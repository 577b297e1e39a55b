#pragma once

#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QPointer>
#include <QString>

namespace vennimo {

class PhotoGridView;

// What assistive technologies see of one card of the grid: a list item named by the card's
// label, selectable, pressed to act as a click on the card, with a second action that opens the
// large preview. It holds only the photo's id and asks the grid for everything else each time,
// so it stays true while the card scrolls and its selection changes, and turns invalid once the
// grid no longer shows the photo.
class PhotoCardAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    static constexpr auto kPreviewAction = "查看大图";

    PhotoCardAccessible(PhotoGridView* grid, const QString& photoID);

    const QString& photoID() const { return m_photoID; }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    // The card's place in the grid, or -1 once it is gone.
    int index() const;

    QPointer<PhotoGridView> m_grid;
    QString m_photoID;
};

} // namespace vennimo
