#pragma once

#include "model/GalleryWindowPort.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstdint>

namespace vennimo {

// The rope window's shape: with or without prints, expanded (room above the rope) or collapsed.
// A request turns into window geometry behind a short fade, so the rope never visibly jumps:
// expanding grows first and fades the content in, collapsing fades out and shrinks after the
// fade. While the window runs a rope gesture the change waits for resume().
class ClotheslineChrome : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool expanded READ expanded NOTIFY expandedChanged)
    Q_PROPERTY(double opacity READ opacity NOTIFY opacityChanged)
    Q_PROPERTY(bool hasPhotos READ hasPhotos NOTIFY hasPhotosChanged)

public:
    static constexpr double kExpandedCanvasTop = 60;
    static constexpr double kCollapsedCanvasTop = 8;
    static constexpr double kCanvasMarginAbove = 60;
    static constexpr double kCanvasMarginBelow = 6;
    static constexpr double kCanvasExtraHeight = 160;
    static constexpr double kHeightWithoutPhotos = 128;
    static constexpr double kCollapseHeight = 52;
    static constexpr std::chrono::milliseconds kFadeDuration{200};

    // The print area's height: a default print and the room for its swing.
    static double fullCanvasHeight();
    static double fullHeightWithPhotos();
    static double heightFor(bool hasPhotos, bool expanded);

    explicit ClotheslineChrome(QObject* parent = nullptr);
    ~ClotheslineChrome() override;

    // The window whose geometry the chrome sets; the link ends when `lifetime` is destroyed
    // (or at once when it is null).
    void setWindow(GalleryWindowPort* window, QObject* lifetime);
    GalleryWindowPort* window() const;

    bool expanded() const { return m_expanded; }
    double opacity() const { return m_opacity; }
    bool hasPhotos() const { return m_hasPhotos; }
    // How long views take to reach the last assigned opacity: the fade, or 0 for a jump.
    std::chrono::milliseconds opacityAnimation() const { return m_opacityAnimation; }
    // The applied shape's height.
    double height() const { return heightFor(m_hasPhotos, m_expanded); }

    bool wantsExpanded() const { return m_wantsExpanded; }
    bool wantsPhotos() const { return m_wantsPhotos; }
    bool reduceMotion() const { return m_reduceMotion; }
    bool transitionPending() const { return m_transition != nullptr; }
    std::uint64_t revision() const { return m_revision; }

    void request(bool hasPhotos, bool expanded, bool reduceMotion);
    // Carries out the requested shape unless a gesture or a pending collapse holds it.
    void resume();

    // Tests shorten the fade's delay.
    void setFadeDelay(std::chrono::milliseconds delay) { m_fadeDelay = delay; }

Q_SIGNALS:
    void expandedChanged();
    void opacityChanged();
    void hasPhotosChanged();

private:
    bool windowBlocked() const;
    void applyGeometry(bool expanded);
    void setOpacity(double opacity, std::chrono::milliseconds animation);
    void cancelTransition();

    bool m_expanded = true;
    double m_opacity = 1;
    bool m_hasPhotos = true;
    GalleryWindowPort* m_window = nullptr;
    QPointer<QObject> m_windowLifetime;
    bool m_wantsExpanded = true;
    bool m_wantsPhotos = true;
    bool m_reduceMotion = false;
    QTimer* m_transition = nullptr;
    std::uint64_t m_revision = 0;
    std::chrono::milliseconds m_opacityAnimation{0};
    std::chrono::milliseconds m_fadeDelay = kFadeDuration;
};

} // namespace vennimo
