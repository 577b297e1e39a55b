#include "grid/NormalGalleryView.h"

#include "dragdrop/PhotoDragPayload.h"
#include "grid/GalleryActionBar.h"
#include "grid/GalleryHeader.h"
#include "grid/GridEmptyState.h"
#include "grid/GridErrorBanner.h"
#include "grid/GridPhotoDrag.h"
#include "grid/PhotoCard.h"
#include "grid/PhotoGridView.h"
#include "model/GalleryModel.h"
#include "model/PhotoSearch.h"
#include "platform/FileManager1.h"
#include "rendering/PhotoPreviewImageLoader.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

namespace vennimo {

NormalGalleryView::NormalGalleryView(GalleryModel& model, std::function<void()> openSettings,
                                     std::function<void()> switchToClothesline, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_openSettings(std::move(openSettings))
    , m_switchToClothesline(std::move(switchToClothesline))
    , m_openFile([](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); })
    , m_revealFile([](const QString& path) { FileManager1().reveal({path}); })
    , m_presentMenu([](QMenu& menu, QPoint at) { menu.exec(at); })
    , m_startDrag(&GridPhotoDrag::exec) {
    setMinimumSize(kMinimumSize);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    GalleryActionBar::Actions actions;
    actions.preview = [this](const Photo& photo) { preview(photo); };
    actions.openSettings = [this] {
        if (m_openSettings)
            m_openSettings();
    };
    actions.switchToClothesline = [this] {
        if (m_switchToClothesline)
            m_switchToClothesline();
    };
    actions.focusContent = [this] { focusContent(); };
    m_bar = new GalleryActionBar(m_model, std::move(actions), this);
    m_header = new GalleryHeader(m_bar, this);
    m_banner = new GridErrorBanner(this);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    m_stack = new QStackedWidget(this);
    m_grid = new PhotoGridView(m_model, m_stack);
    m_empty = new GridEmptyState(m_stack);
    m_stack->addWidget(m_grid);
    m_stack->addWidget(m_empty);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(m_banner);
    column->addWidget(divider);
    column->addWidget(m_stack, 1);

    m_notice = new QPushButton(QString::fromUtf8("有新照片，点击查看"), this);
    const QColor accent = palette().color(QPalette::Highlight);
    m_notice->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                                           " border-radius: 6px; padding: 3px 10px; }"
                                           "QPushButton:disabled { background: %2; }")
                                .arg(accent.name(), accent.lighter(140).name()));
    m_notice->setFont(ClotheslineToolbarButtonStyle::font(12));
    m_notice->setCursor(Qt::PointingHandCursor);
    m_notice->hide();
    connect(m_notice, &QPushButton::clicked, this, &NormalGalleryView::revealArrivals);

    PhotoGridView::Callbacks callbacks;
    callbacks.select = [this](const Photo& photo) { activate(photo); };
    callbacks.preview = [this](const Photo& photo) { preview(photo); };
    callbacks.contextMenu = [this](const Photo& photo, QPoint at) { showMenu(photo, at); };
    callbacks.drag = [this](const Photo& photo, const QRectF& picture) { drag(photo, picture); };
    callbacks.pressed = [this](const Photo& photo) {
        QWindow* handle = window()->windowHandle();
        PhotoPreviewImageLoader::prepare({photo}, handle ? handle->screen() : nullptr, 0);
    };
    m_grid->setCallbacks(std::move(callbacks));

    connect(m_bar, &GalleryActionBar::queryEdited, this, &NormalGalleryView::setQuery);
    connect(&m_model, &GalleryModel::photosChanged, this, &NormalGalleryView::photosChanged);
    connect(&m_model, &GalleryModel::importingChanged, this, [this] {
        refreshHeader();
        refreshNotice();
    });
    connect(&m_model, &GalleryModel::deletingChanged, this, &NormalGalleryView::refreshNotice);
    connect(&m_model, &GalleryModel::arrivalRevisionChanged, this, &NormalGalleryView::arrived);
    connect(&m_model, &GalleryModel::selectionRequestChanged, this, &NormalGalleryView::selectAllRequested);
    for (auto signal : {&GalleryModel::placementErrorChanged, &GalleryModel::lineErrorChanged,
                        &GalleryModel::actionErrorChanged, &GalleryModel::errorMessageChanged})
        connect(&m_model, signal, this, &NormalGalleryView::refreshErrors);
    connect(m_banner, &GridErrorBanner::dismissRequested, &m_model, &GalleryModel::dismissErrors);

    // The first list is the starting point, not a change: nothing is pruned for it.
    m_filtered = m_model.photos();
    for (const Photo& photo : std::as_const(m_filtered))
        m_filteredIDs.append(photo.id);
    m_grid->setPhotos(m_filtered);
    m_bar->setVisiblePhotos(m_filtered);
    m_stack->setCurrentWidget(m_filtered.isEmpty() ? static_cast<QWidget*>(m_empty) : m_grid);
    refreshHeader();
    refreshErrors();
    refreshNotice();
}

NormalGalleryView::~NormalGalleryView() = default;

void NormalGalleryView::setQuery(const QString& query) {
    if (query == m_query)
        return;
    m_query = query;
    m_bar->setQuery(query);
    refilter();
}

void NormalGalleryView::photosChanged() {
    refreshHeader();
    refilter();
}

void NormalGalleryView::refilter() {
    QList<Photo> filtered;
    QList<QString> ids;
    const QList<Photo>& photos = m_model.photos();
    filtered.reserve(photos.size());
    ids.reserve(photos.size());
    for (const Photo& photo : photos) {
        if (matchesSearch(photo, m_query)) {
            filtered.append(photo);
            ids.append(photo.id);
        }
    }
    m_filtered = std::move(filtered);
    m_grid->setPhotos(m_filtered);
    m_bar->setVisiblePhotos(m_filtered);
    m_empty->setSearching(!m_query.isEmpty());
    m_stack->setCurrentWidget(m_filtered.isEmpty() ? static_cast<QWidget*>(m_empty) : m_grid);
    if (ids != m_filteredIDs) {
        m_filteredIDs = std::move(ids);
        // Photos hidden by the search, or gone from the model, leave the selection.
        m_model.pruneSelection(QSet<QString>(m_filteredIDs.cbegin(), m_filteredIDs.cend()));
    }
}

bool NormalGalleryView::isAtTop() const {
    return m_grid->isAtTop();
}

void NormalGalleryView::setPreviewPhoto(const std::optional<Photo>& photo) {
    const bool changed = photo.has_value() != m_previewPhoto.has_value() ||
                         (photo && m_previewPhoto && photo->id != m_previewPhoto->id);
    m_previewPhoto = photo;
    if (changed)
        Q_EMIT previewPhotoChanged();
}

void NormalGalleryView::preview(const Photo& photo) {
    if (m_model.deleting())
        return;
    if (!m_model.selectedIDs().contains(photo.id))
        m_model.toggleSelection(photo);
    setPreviewPhoto(photo);
}

void NormalGalleryView::activate(const Photo& photo) {
    if (m_model.selectionMode())
        m_model.toggleSelection(photo);
    else
        m_model.setSelection({photo});
    focusContent();
}

void NormalGalleryView::focusContent() {
    if (QWidget* active = QApplication::activeWindow())
        active->setFocus(Qt::OtherFocusReason);
}

void NormalGalleryView::arrived() {
    if (m_query.trimmed().isEmpty() && !m_model.selectionMode() && !m_previewPhoto && m_grid->isAtTop()) {
        m_scrollPhotoID = m_filtered.isEmpty() ? std::nullopt : std::optional<QString>(m_filtered.first().id);
        m_grid->scrollToPhoto(m_scrollPhotoID);
        return;
    }
    m_pendingArrival = true;
    refreshNotice();
}

void NormalGalleryView::revealArrivals() {
    m_model.endSelection();
    setQuery({});
    m_pendingArrival = false;
    refreshNotice();
    const QList<Photo>& photos = m_model.photos();
    m_scrollPhotoID = photos.isEmpty() ? std::nullopt : std::optional<QString>(photos.first().id);
    QTimer::singleShot(0, m_grid, [grid = m_grid] { grid->scrollToTop(kRevealDuration); });
}

void NormalGalleryView::selectAllRequested() {
    if (m_previewPhoto)
        return;
    m_model.toggleAllSelection(m_filtered);
    focusContent();
}

void NormalGalleryView::refreshErrors() {
    const std::optional<QString> error = m_model.displayedError();
    if (error)
        m_banner->setText(*error);
    m_banner->setVisible(error.has_value());
}

void NormalGalleryView::refreshHeader() {
    m_header->setCount(m_model.photos().size(), m_model.importing());
}

void NormalGalleryView::refreshNotice() {
    m_notice->setVisible(m_pendingArrival);
    m_notice->setEnabled(!m_model.deleting() && !m_model.importing());
    if (m_pendingArrival) {
        m_notice->adjustSize();
        placeNotice();
        m_notice->raise();
    }
}

void NormalGalleryView::placeNotice() {
    const QSize size = m_notice->sizeHint();
    m_notice->setGeometry((width() - size.width()) / 2, height() - kNoticeBottomPadding - size.height(),
                          size.width(), size.height());
}

void NormalGalleryView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeNotice();
}

std::optional<QString> NormalGalleryView::emptyText() const {
    if (m_stack->currentWidget() != m_empty)
        return std::nullopt;
    return m_empty->text();
}

void NormalGalleryView::showMenu(const Photo& photo, QPoint globalPos) {
    const PhotoCard::Flags flags = PhotoCard::flags(m_model, photo);
    const bool selectedWhenBuilt = m_model.selectedIDs().contains(photo.id);
    PhotoCard::MenuActions actions;
    actions.preview = [this, photo] { preview(photo); };
    actions.copy = [this, photo, selectedWhenBuilt] { PhotoCard::copy(m_model, photo, selectedWhenBuilt); };
    actions.reveal = [this, photo] {
        if (m_revealFile)
            m_revealFile(photo.path);
    };
    actions.open = [this, photo] { PhotoCard::open(m_model, photo, m_openFile); };
    actions.toggleUsage = [this, photo] { PhotoCard::toggleUsage(m_model, photo); };
    const std::unique_ptr<QMenu> menu = PhotoCard::contextMenu(flags, actions);
    if (m_presentMenu)
        m_presentMenu(*menu, globalPos);
}

void NormalGalleryView::drag(const Photo& photo, const QRectF& picture) {
    // Photos whose files are gone or unreadable are left out; with none left nothing starts.
    const PhotoDragPayload payload(m_model.dragPhotos(photo));
    if (payload.isEmpty() || !m_startDrag)
        return;
    // The drag loop may outlive this screen (the window switched to the rope meanwhile): only
    // the model, which outlives every screen, is touched after it.
    GalleryModel* model = &m_model;
    const DragStarter start = m_startDrag;
    const Qt::DropAction action = start(payload, m_grid->viewport(), picture);
    model->completeDrag(payload.photos(), action);
}

} // namespace vennimo
