#include "preview/PhotoPreviewPresenter.h"

#include "model/GalleryModel.h"
#include "model/RopeHistoryEntry.h"
#include "platform/FileManager1.h"
#include "preview/PolaroidPreviewPanel.h"
#include "preview/PolaroidPreviewPaperView.h"
#include "preview/PreviewActionButton.h"
#include "preview/PreviewCommand.h"
#include "rendering/PhotoDimensions.h"
#include "rendering/PolaroidPreviewGeometry.h"
#include "rendering/PolaroidRenderer.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

constexpr QRectF kNoScreenFrame{0, 0, 1440, 900};

PhotoPreviewPresenter::PanelRegistrar& panelRegistrar() {
    static PhotoPreviewPresenter::PanelRegistrar registrar;
    return registrar;
}

QRect rounded(const QRectF& rect) {
    return QRect(int(std::lround(rect.x())), int(std::lround(rect.y())), int(std::lround(rect.width())),
                 int(std::lround(rect.height())));
}

} // namespace

PhotoPreviewPresenter::PhotoPreviewPresenter(GalleryModel& model, QWidget* anchor, QObject* parent)
    : QObject(parent)
    , m_anchor(anchor)
    , m_model(&model)
    , m_reveal([](const QString& path) { FileManager1().reveal({path}); }) {
    if (anchor)
        anchor->installEventFilter(this);
    for (const auto signal :
         {&GalleryModel::photosChanged, &GalleryModel::deletingChanged, &GalleryModel::importingChanged,
          &GalleryModel::undoHistoryChanged, &GalleryModel::redoHistoryChanged,
          &GalleryModel::actionErrorChanged, &GalleryModel::placementErrorChanged,
          &GalleryModel::lineErrorChanged, &GalleryModel::errorMessageChanged, &GalleryModel::modelChanged})
        connect(&model, signal, this, &PhotoPreviewPresenter::scheduleUpdate);
}

PhotoPreviewPresenter::~PhotoPreviewPresenter() {
    // The host went away: the panel closes and the host's state is left as it is. The host's
    // window may be going too, so it is not asked to take the focus back.
    m_parentClosing = true;
    dismiss(false);
}

void PhotoPreviewPresenter::setPanelRegistrar(PanelRegistrar registrar) {
    panelRegistrar() = std::move(registrar);
}

void PhotoPreviewPresenter::setSelected(const std::optional<Photo>& photo) {
    const bool changed = m_selected != photo;
    m_selected = photo;
    if (changed)
        Q_EMIT selectedChanged();
    update();
}

void PhotoPreviewPresenter::writeBinding(const std::optional<Photo>& photo) {
    if (m_selected == photo)
        return;
    m_selected = photo;
    Q_EMIT selectedChanged();
    scheduleUpdate();
}

void PhotoPreviewPresenter::scheduleUpdate() {
    if (m_updateScheduled)
        return;
    m_updateScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_updateScheduled = false;
        update();
    });
}

bool PhotoPreviewPresenter::modelBusy() const {
    return !m_model || m_model->isBusy();
}

bool PhotoPreviewPresenter::showsCurrent(const Photo& photo) const {
    return m_current && m_current->id == photo.id;
}

QWidget* PhotoPreviewPresenter::anchorWindow() const {
    return m_anchor ? m_anchor->window() : nullptr;
}

void PhotoPreviewPresenter::update() {
    if (!m_model || !m_selected) {
        dismiss(false);
        return;
    }
    const Photo bound = *m_selected;
    if (!m_current || !m_sequence.containsEntry(bound)) {
        m_takenDownPage.reset();
        QList<Photo> selection = m_model->selectedPhotos();
        if (m_model->clotheslineMode()) {
            std::stable_sort(selection.begin(), selection.end(),
                             [model = m_model.data()](const Photo& a, const Photo& b) {
                                 return model->ropeOrderPrecedes(a, b);
                             });
        }
        const bool inSelection = std::any_of(selection.begin(), selection.end(),
                                             [&](const Photo& p) { return isSamePhoto(p, bound); });
        m_sequence.photos = inSelection ? selection : QList<Photo>{bound};
    }

    if (auto live = livePreviewPhoto(bound, m_model->photos())) {
        m_current = *live;
        presentIfReady();
        refreshControls();
        return;
    }

    // The photo vanished. The host's state follows one turn later, and only when nobody changed
    // it meanwhile.
    const QPointer<PhotoPreviewPresenter> self(this);
    const auto replacement = m_sequence.replacement(bound, m_model->photos());
    if (!replacement) {
        dismiss(false);
        QTimer::singleShot(0, this, [self, bound] {
            if (self && self->m_selected && isSamePhoto(*self->m_selected, bound) && !self->m_current)
                self->writeBinding(std::nullopt);
        });
        return;
    }
    m_current = *replacement;
    presentIfReady();
    refreshControls();
    const Photo shown = *replacement;
    QTimer::singleShot(0, this, [self, bound, shown] {
        if (self && self->m_selected && isSamePhoto(*self->m_selected, bound) && self->m_current &&
            isSamePhoto(*self->m_current, shown))
            self->writeBinding(shown);
    });
}

void PhotoPreviewPresenter::presentIfReady() {
    QWidget* parent = anchorWindow();
    if (!m_current || !parent || !parent->isVisible())
        return;
    if (!m_panel)
        createPanel();
    load(*m_current);
}

void PhotoPreviewPresenter::createPanel() {
    QWidget* parent = anchorWindow();
    m_parentClosing = false;
    m_panel = new PolaroidPreviewPanel(parent);
    m_panel->installEventFilter(this);
    m_paper = new PolaroidPreviewPaperView(m_panel);
    if (panelRegistrar())
        panelRegistrar()(m_panel);
    installCallbacks();
    resize();
    m_observedParent = parent;
    parent->installEventFilter(this);
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_paper->setFocus(Qt::OtherFocusReason);
}

void PhotoPreviewPresenter::installCallbacks() {
    const QPointer<PhotoPreviewPresenter> self(this);
    const auto weakly = [self](void (PhotoPreviewPresenter::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    PolaroidPreviewPaperView::Callbacks callbacks;
    callbacks.onClose = [self] {
        if (self)
            self->dismiss(true);
    };
    callbacks.onCopy = weakly(&PhotoPreviewPresenter::copyCurrent);
    callbacks.onLine = weakly(&PhotoPreviewPresenter::toggleLine);
    callbacks.onTrash = weakly(&PhotoPreviewPresenter::trashCurrent);
    callbacks.onReveal = weakly(&PhotoPreviewPresenter::revealCurrent);
    callbacks.onPrevious = [self] {
        if (self)
            self->navigate(-1);
    };
    callbacks.onNext = [self] {
        if (self)
            self->navigate(1);
    };
    callbacks.onDismissError = weakly(&PhotoPreviewPresenter::dismissError);
    m_paper->setCallbacks(std::move(callbacks));

    m_panel->setGalleryModel(m_model);
    m_panel->setHandleUndo(weakly(&PhotoPreviewPresenter::undoCurrentAction));
    m_panel->setHandleRedo(weakly(&PhotoPreviewPresenter::redoCurrentAction));
    m_panel->setHandleShortcut([self](QKeyEvent* event) { return self && self->handleKey(event); });
    m_panel->setClaimsKey(
        [](const QKeyEvent* event) { return previewCommand(*event) != PreviewCommand::none; });
}

void PhotoPreviewPresenter::dismiss(bool updateBinding) {
    if (m_panel)
        PhotoPreviewImageLoader::cancelPreparation();
    ++m_loadGeneration;
    m_imageLoader.cancel();
    m_loadedKey.clear();
    m_current.reset();
    m_sequence = {};
    m_takenDownPage.reset();
    if (m_observedParent) {
        m_observedParent->removeEventFilter(this);
        m_observedParent = nullptr;
    }
    if (m_panel) {
        QPointer<QWidget> parent = m_panel->parentWidget();
        const bool wasKey = m_panel->isActiveWindow();
        m_panel->removeEventFilter(this);
        m_paper->setCallbacks({});
        m_panel->setHandleShortcut({});
        m_panel->setHandleUndo({});
        m_panel->setHandleRedo({});
        m_programmaticClose = true;
        m_panel->close();
        m_programmaticClose = false;
        // Later: the close may come from the panel's own key or button handler.
        m_panel->deleteLater();
        m_panel = nullptr;
        m_paper = nullptr;
        if (wasKey && !m_parentClosing && parent && parent->isVisible() &&
            QGuiApplication::applicationState() == Qt::ApplicationActive &&
            !QApplication::activeModalWidget())
            parent->activateWindow();
    }
    m_panel = nullptr;
    m_paper = nullptr;
    if (updateBinding)
        writeBinding(std::nullopt);
}

bool PhotoPreviewPresenter::eventFilter(QObject* watched, QEvent* event) {
    if (m_panel && watched == m_panel && event->type() == QEvent::Close && !m_programmaticClose) {
        dismiss(true);
    } else if (watched == m_observedParent &&
               (event->type() == QEvent::Close || event->type() == QEvent::Hide)) {
        m_parentClosing = true;
        dismiss(true);
    } else if (watched == m_anchor &&
               (event->type() == QEvent::Show || event->type() == QEvent::ParentChange)) {
        // The anchor reached a window: a preview waiting for one opens now.
        if (m_current && !m_panel)
            QTimer::singleShot(0, this, [this] { presentIfReady(); });
    }
    return QObject::eventFilter(watched, event);
}

void PhotoPreviewPresenter::navigate(int step) {
    if (!m_model || m_model->deleting() || !m_current)
        return;
    const QList<Photo> live = m_sequence.livePhotos(m_model->photos());
    const auto it =
        std::find_if(live.begin(), live.end(), [&](const Photo& p) { return p.id == m_current->id; });
    if (it == live.end())
        return;
    const qsizetype target = (it - live.begin()) + step;
    if (target < 0 || target >= live.size())
        return;
    m_current = live[target];
    writeBinding(m_current);
    presentIfReady();
    refreshControls();
    if (m_panel && !m_panel->isActiveWindow()) {
        m_panel->raise();
        m_panel->activateWindow();
        m_paper->setFocus(Qt::OtherFocusReason);
    }
}

double PhotoPreviewPresenter::backingScale() const {
    if (m_panel && m_panel->screen())
        return m_panel->screen()->devicePixelRatio();
    if (QWidget* window = anchorWindow(); window && window->screen())
        return window->screen()->devicePixelRatio();
    return kDefaultBackingScale;
}

void PhotoPreviewPresenter::load(const Photo& photo) {
    if (m_model)
        m_model->acknowledge({photo});
    const QString key = PhotoPreviewImageLoader::version(photo);
    if (key == m_loadedKey)
        return;
    m_loadedKey = key;
    const int generation = ++m_loadGeneration;
    m_imageLoader.cancel();
    m_currentSize = PolaroidRenderer::imageSize(photo);
    const QPointer<PhotoPreviewPresenter> self(this);
    // The picture's size is read off this thread; the full image waits for it, since the size
    // decides how many pixels it is decoded to.
    const bool sizeComing = PhotoDimensions::learn(photo, this, [self, generation, photo, key] {
        if (!self || self->m_loadGeneration != generation || !self->showsCurrent(photo))
            return;
        self->m_currentSize = PolaroidRenderer::imageSize(photo);
        self->resize();
        self->requestImage(photo, key, generation);
    });
    resize();
    if (m_paper)
        m_paper->copyButton()->setText(QString::fromUtf8(PolaroidPreviewPaperView::kCopyTitle));

    std::optional<QImage> quick = PhotoPreviewImageLoader::cachedImage(key, 0);
    if (!quick)
        quick = PhotoPreviewImageLoader::thumbnail(photo, key);
    // The quick picture has the photo's shape: the panel takes it now rather than changing shape
    // when the size comes.
    if (sizeComing && quick && !quick->isNull())
        m_currentSize = QSizeF(quick->size());
    if (quick && m_paper) {
        m_paper->setImage(*quick);
        m_paper->setUnavailable(std::nullopt);
        m_paper->setLoading(false);
        resize();
    } else if (quick) {
        resize();
    } else if (m_paper) {
        m_paper->setImage({});
        m_paper->setUnavailable(QString::fromUtf8(PolaroidPreviewPaperView::kLoadingText));
        m_paper->setLoading(true);
    }
    if (!sizeComing)
        requestImage(photo, key, generation);
}

void PhotoPreviewPresenter::requestImage(const Photo& photo, const QString& key, int generation) {
    const QSizeF bounds = m_paper ? m_paper->previewGeometry().image.size() : kDefaultImageBounds;
    const int pixels = PhotoPreviewImageLoader::targetPixels(m_currentSize, bounds, backingScale());
    if (PhotoPreviewImageLoader::cachedImage(key, pixels))
        return;
    const QPointer<PhotoPreviewPresenter> self(this);
    m_imageLoader.request(photo, key, pixels, [self, generation, photo](const QImage& image) {
        if (!self || self->m_loadGeneration != generation || !self->showsCurrent(photo) || !self->m_paper)
            return;
        self->m_paper->setLoading(false);
        if (!image.isNull()) {
            self->m_paper->setImage(image);
            self->m_paper->setUnavailable(std::nullopt);
            self->resize();
        } else if (!self->m_paper->hasImage()) {
            self->m_paper->setUnavailable(QString::fromUtf8(PolaroidPreviewPaperView::kUnavailableText));
        }
        self->refreshControls();
    });
}

void PhotoPreviewPresenter::resize() {
    if (!m_panel || !m_paper)
        return;
    QScreen* screen = m_panel->screen();
    if (!screen && anchorWindow())
        screen = anchorWindow()->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRectF visible = screen ? QRectF(screen->availableGeometry()) : kNoScreenFrame;
    const bool navigation = m_model && m_sequence.livePhotos(m_model->photos()).size() > 1;
    const PolaroidPreviewGeometry geometry =
        PolaroidPreviewGeometry::layout(m_currentSize, visible, navigation);
    const QRect frame =
        rounded(PolaroidPreviewGeometry::fittedFrame(geometry.size, visible.center(), visible));
    m_panel->setGeometry(frame);
    m_paper->setGeometry(0, 0, frame.width(), frame.height());
    m_paper->setPreviewGeometry(geometry);
}

} // namespace vennimo
