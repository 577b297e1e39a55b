#pragma once

#include "core/Photo.h"

#include <QWidget>

#include <functional>

namespace vennimo {

// Holds the place of the preview panel until it exists: the photo, scaled down, in a window of
// its own above the gallery; Escape or Space closes it.
class PreviewStandIn : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMaxPixels = 900;

    PreviewStandIn(const Photo& photo, std::function<void()> closed);
    ~PreviewStandIn() override;

    static void open(const Photo& photo, QWidget* window, std::function<void()> closed);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> m_closed;
};

} // namespace vennimo
