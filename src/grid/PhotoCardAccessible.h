#pragma once

#include "widgets/AccessiblePhotoElement.h"

#include <QPointer>
#include <QString>

namespace vennimo {

class PhotoGridView;

// What assistive technologies see of one card of the grid: a list item named by the card's
// label, selectable, pressed to act as a click on the card, with a second action that opens the
// large preview. It holds only the photo's id and asks the grid for everything else each time,
// so it stays true while the card scrolls and its selection changes, and turns invalid once the
// grid no longer shows the photo.
class PhotoCardAccessible : public AccessiblePhotoElement {
public:
    PhotoCardAccessible(PhotoGridView* grid, const QString& photoID);

    const QString& photoID() const { return m_photoID; }

    bool isValid() const override;
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;

protected:
    void perform(Action action) override;

private:
    // The card's place in the grid, or -1 once it is gone.
    int index() const;

    QPointer<PhotoGridView> m_grid;
    QString m_photoID;
};

} // namespace vennimo
