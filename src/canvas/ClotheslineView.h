#pragma once

#include "canvas/RopeHitRegion.h"
#include "core/Photo.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <optional>

class QGraphicsOpacityEffect;

namespace vennimo {

class ClotheslineCanvas;
class ClotheslineChrome;
class ClotheslineErrorBanner;
class ClotheslineToolbar;
class GalleryModel;
class RopeHitAreas;
class RopeWindowPort;

// The rope screen: the whole content of the gallery window in its rope style. Back to front it
// stacks the canvas (inset 10 at the sides, 60 or 8 at the top, 6 at the bottom), the floating
// toolbar while the chrome is expanded, faded with the chrome, and the error banner while the
// model has an error to show. It decides what a click and a preview request on a print do, keeps
// the selection to the prints that hang, and answers the select-all request.
class ClotheslineView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSideInset = 10;
    static constexpr int kBottomInset = 6;
    static constexpr int kMinimumWidth = 760;
    static constexpr int kBannerTopExpanded = 73;
    static constexpr int kBannerTopCollapsed = 21;
    static constexpr int kBannerSideInset = 70;

    // Opens the preview panel on a photo; the screen's `closePreview()` is called when it closes.
    using PreviewPresenter = std::function<void(const Photo& photo)>;

    explicit ClotheslineView(GalleryModel& model, QWidget* parent = nullptr);
    ~ClotheslineView() override;

    void setOpenSettings(std::function<void()> callback);
    void setSwitchToNormal(std::function<void()> callback);
    // What the collapse button does; by default it closes this screen's window.
    void setCloseWindow(std::function<void()> callback) { m_closeWindow = std::move(callback); }
    void setPreviewPresenter(PreviewPresenter presenter) { m_previewPresenter = std::move(presenter); }
    // The window the canvas publishes its shapes on and the toolbar moves by; call dismantle()
    // before it goes.
    void setWindowPort(RopeWindowPort* port);
    void dismantle();

    // The photos on the rope, in rope order, computed afresh.
    QList<Photo> hanging() const;
    // A double click, the keyboard's Space and the toolbar's "查看".
    void preview(const Photo& photo);
    // A single click on a print.
    void activate(const Photo& photo);
    // The preview panel closed.
    void closePreview();
    const std::optional<Photo>& selected() const { return m_selected; }

    ClotheslineCanvas* canvasHost() const { return m_canvas; }
    ClotheslineToolbar* toolbar() const { return m_toolbar; }
    ClotheslineErrorBanner* errorBanner() const { return m_banner; }
    RopeHitAreas* hitAreas() const { return m_hitAreas; }
    // The toolbar's opacity as drawn now.
    double toolbarOpacity() const { return m_toolbarOpacity; }
    // Gives the keyboard to the window, so the gallery's keys reach their handler.
    void focusContent();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();
    void followChrome();
    void applyToolbarOpacity(double opacity);
    void updateBanner();
    void hangingMaybeChanged();
    void selectionRequested();

    QPointer<GalleryModel> m_model;
    ClotheslineChrome& m_chrome;
    ClotheslineCanvas* m_canvas = nullptr;
    ClotheslineToolbar* m_toolbar = nullptr;
    ClotheslineErrorBanner* m_banner = nullptr;
    RopeHitAreas* m_hitAreas = nullptr;
    QGraphicsOpacityEffect* m_toolbarEffect = nullptr;
    QVariantAnimation m_fade;
    double m_toolbarOpacity = 1;
    RopeWindowPort* m_port = nullptr;
    std::optional<Photo> m_selected;
    QStringList m_hangingIDs;
    std::function<void()> m_switchToNormal;
    std::function<void()> m_openSettings;
    std::function<void()> m_closeWindow;
    PreviewPresenter m_previewPresenter;
};

} // namespace vennimo
