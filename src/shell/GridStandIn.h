#pragma once

#include "shell/GalleryScreenFactory.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace vennimo {

class GalleryKeyboardBridge;

// Holds the grid style of the gallery window until the grid screen exists: how many photos the
// gallery has and the way back to the rope. Its keys act on the photos in the model's order.
class GridStandIn : public QWidget {
    Q_OBJECT

public:
    GridStandIn(const GalleryScreenFactory::GridInputs& inputs, QWidget* parent = nullptr);

    QPushButton* ropeButton() const { return m_rope; }
    QLabel* countLabel() const { return m_count; }

private:
    void refresh();

    QPointer<GalleryModel> m_model;
    QLabel* m_count = nullptr;
    QPushButton* m_rope = nullptr;
    GalleryKeyboardBridge* m_keyboard = nullptr;
};

} // namespace vennimo
