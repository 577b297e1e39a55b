#include "canvas/ClotheslineView.h"

#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineErrorBanner.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/ClotheslineToolbar.h"
#include "canvas/RopeHitAreas.h"
#include "canvas/RopeWindowPort.h"
#include "model/ClotheslineChrome.h"
#include "model/GalleryModel.h"

#include <QAccessible>
#include <QApplication>
#include <QGraphicsOpacityEffect>

namespace vennimo {

namespace {

QStringList idsOf(const QList<Photo>& photos) {
    QStringList ids;
    ids.reserve(photos.size());
    for (const Photo& photo : photos)
        ids.append(photo.id);
    return ids;
}

} // namespace

ClotheslineView::ClotheslineView(GalleryModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(&model)
    , m_chrome(model.clotheslineChrome()) {
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumWidth(kMinimumWidth);
    m_hitAreas = new RopeHitAreas(this);

    m_canvas = new ClotheslineCanvas(model, this);
    m_canvas->setOnSelect([this](const Photo& photo) { activate(photo); });
    m_canvas->setOnPreview([this](const Photo& photo) { preview(photo); });
    m_closeWindow = [this] { window()->close(); };

    ClotheslineToolbar::Actions actions;
    actions.hanging = [this] { return hanging(); };
    actions.preview = [this](const Photo& photo) { preview(photo); };
    actions.switchToNormal = [this] {
        if (m_switchToNormal)
            m_switchToNormal();
    };
    actions.openSettings = [this] {
        if (m_openSettings)
            m_openSettings();
    };
    actions.closeWindow = [this] {
        if (m_closeWindow)
            m_closeWindow();
    };
    actions.focusContent = [this] { focusContent(); };
    m_toolbar = new ClotheslineToolbar(model, std::move(actions), this);
    m_toolbarEffect = new QGraphicsOpacityEffect(m_toolbar);
    m_toolbarEffect->setEnabled(false);
    m_toolbar->setGraphicsEffect(m_toolbarEffect);
    m_hitAreas->add(m_toolbar->capsule());

    m_banner = new ClotheslineErrorBanner(this);
    m_banner->hide();
    connect(m_banner, &ClotheslineErrorBanner::dismissRequested, this, [this] {
        if (m_model)
            m_model->dismissErrors();
    });
    m_hitAreas->add(m_banner);

    connect(&m_fade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { applyToolbarOpacity(value.toDouble()); });
    connect(&m_chrome, &ClotheslineChrome::expandedChanged, this, &ClotheslineView::followChrome);
    connect(&m_chrome, &ClotheslineChrome::opacityChanged, this, &ClotheslineView::followChrome);
    for (const auto signal : {&GalleryModel::placementErrorChanged, &GalleryModel::lineErrorChanged,
                              &GalleryModel::actionErrorChanged, &GalleryModel::errorMessageChanged})
        connect(&model, signal, this, &ClotheslineView::updateBanner);
    for (const auto signal : {&GalleryModel::photosChanged, &GalleryModel::modelChanged,
                              &GalleryModel::undoHistoryChanged, &GalleryModel::deletingChanged})
        connect(&model, signal, this, &ClotheslineView::hangingMaybeChanged);
    connect(&model, &GalleryModel::selectionRequestChanged, this, &ClotheslineView::selectionRequested);

    m_hangingIDs = idsOf(hanging());
    applyToolbarOpacity(m_chrome.opacity());
    updateBanner();
    relayout();
}

ClotheslineView::~ClotheslineView() {
    dismantle();
}

void ClotheslineView::setOpenSettings(std::function<void()> callback) {
    m_openSettings = callback;
    m_canvas->setOpenSettings(std::move(callback));
}

void ClotheslineView::setSwitchToNormal(std::function<void()> callback) {
    m_switchToNormal = callback;
    m_canvas->setSwitchToNormal(std::move(callback));
}

void ClotheslineView::setWindowPort(RopeWindowPort* port) {
    m_port = port;
    m_canvas->setWindowPort(port);
    m_toolbar->setMover([this](QPointF screenPoint) {
        if (!m_port)
            return false;
        m_port->moveClothesline(screenPoint);
        return true;
    });
}

void ClotheslineView::dismantle() {
    m_canvas->dismantle();
    m_port = nullptr;
}

QList<Photo> ClotheslineView::hanging() const {
    return m_model ? m_model->orderedRopePhotos() : QList<Photo>();
}

void ClotheslineView::preview(const Photo& photo) {
    if (!m_model || m_model->deleting())
        return;
    if (!m_model->selectedIDs().contains(photo.id))
        m_model->toggleSelection(photo);
    m_selected = photo;
    m_canvas->setPreviewing(true);
    if (m_previewPresenter)
        m_previewPresenter(photo);
}

void ClotheslineView::closePreview() {
    m_selected.reset();
    m_canvas->setPreviewing(false);
}

void ClotheslineView::activate(const Photo& photo) {
    if (!m_model)
        return;
    ClotheslineCanvas::activate(*m_model, photo);
    focusContent();
}

void ClotheslineView::focusContent() {
    QWidget* content = m_port && m_port->contentView() ? m_port->contentView() : window();
    if (QApplication::activeWindow() == content->window())
        content->setFocus(Qt::OtherFocusReason);
}

void ClotheslineView::selectionRequested() {
    if (!m_model || m_selected)
        return;
    m_model->toggleAllSelection(hanging());
    focusContent();
}

void ClotheslineView::hangingMaybeChanged() {
    if (!m_model)
        return;
    QStringList ids = idsOf(hanging());
    if (ids == m_hangingIDs)
        return;
    m_hangingIDs = std::move(ids);
    m_model->pruneSelection(QSet<QString>(m_hangingIDs.cbegin(), m_hangingIDs.cend()));
}

void ClotheslineView::followChrome() {
    const double target = m_chrome.opacity();
    const auto duration = m_chrome.opacityAnimation();
    m_fade.stop();
    if (duration.count() <= 0 || !isVisible()) {
        applyToolbarOpacity(target);
    } else {
        m_fade.setStartValue(m_toolbarOpacity);
        m_fade.setEndValue(target);
        m_fade.setDuration(int(duration.count()));
        m_fade.setEasingCurve(QEasingCurve::InOutQuad);
        m_fade.start();
    }
    relayout();
}

void ClotheslineView::applyToolbarOpacity(double opacity) {
    m_toolbarOpacity = opacity;
    m_toolbarEffect->setOpacity(opacity);
    // Fully opaque, the toolbar draws straight into the window.
    m_toolbarEffect->setEnabled(opacity < 1);
    // Faded out, it takes no clicks and is hidden from assistive technologies.
    m_toolbar->setVisible(m_chrome.expanded() && opacity > 0);
}

void ClotheslineView::updateBanner() {
    const std::optional<QString> error = m_model ? m_model->displayedError() : std::nullopt;
    if (error)
        m_banner->setText(*error);
    m_banner->setVisible(error.has_value());
    relayout();
}

void ClotheslineView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void ClotheslineView::relayout() {
    const bool expanded = m_chrome.expanded();
    const int top =
        int(expanded ? ClotheslineChrome::kExpandedCanvasTop : ClotheslineChrome::kCollapsedCanvasTop);
    m_canvas->scrollView()->setGeometry(kSideInset, top, std::max(width() - 2 * kSideInset, 0),
                                        std::max(height() - top - kBottomInset, 0));
    m_toolbar->setGeometry(0, 0, width(), m_toolbar->height());
    m_toolbar->setVisible(expanded && m_toolbarOpacity > 0);
    if (expanded)
        m_toolbar->raise();
    if (m_banner->isVisibleTo(this)) {
        const int bannerWidth = std::max(width() - 2 * kBannerSideInset, 0);
        const int bannerHeight = m_banner->heightForWidth(bannerWidth) > 0
                                     ? m_banner->heightForWidth(bannerWidth)
                                     : m_banner->sizeHint().height();
        m_banner->setGeometry(kBannerSideInset, expanded ? kBannerTopExpanded : kBannerTopCollapsed,
                              bannerWidth, bannerHeight);
        m_banner->raise();
    }
    m_hitAreas->schedulePublish();
}

} // namespace vennimo
