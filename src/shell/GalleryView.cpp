#include "shell/GalleryView.h"

#include "canvas/ClotheslineView.h"
#include "canvas/RopeHitAreas.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "shell/GalleryKeyboardBridge.h"
#include "shell/GalleryWindow.h"
#include "shell/RopeWindowBridge.h"

#include <QKeyEvent>
#include <QMetaMethod>
#include <QTimer>
#include <QVBoxLayout>

namespace vennimo {

GalleryView::GalleryView(GalleryModel& model, GalleryWindow& window, std::function<void()> openSettings,
                         GalleryScreenFactory factory)
    : QWidget(&window)
    , m_model(&model)
    , m_window(&window)
    , m_openSettings(std::move(openSettings))
    , m_factory(std::move(factory)) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_style = new WindowStyleBridge(&window, model.clotheslineChrome(), this);
    m_ropeBridge = new RopeWindowBridge(&window, this);
    window.setContentWidget(this);

    // Every published change of the model may change the screen, the style or the chrome.
    const QMetaObject& meta = GalleryModel::staticMetaObject;
    const QMetaMethod pass = staticMetaObject.method(staticMetaObject.indexOfSlot("scheduleStyle()"));
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() == QMetaMethod::Signal && method.parameterCount() == 0)
            connect(&model, method, this, pass);
    }
    connect(&model, &GalleryModel::clotheslineModeChanged, this, &GalleryView::showScreen);
    showScreen();
    applyWindowStyle();
}

GalleryView::~GalleryView() {
    dismantle();
}

ClotheslineView* GalleryView::ropeScreen() const {
    return m_rope;
}

void GalleryView::dismantle() {
    m_dismantled = true;
    if (m_rope)
        m_rope->dismantle();
}

bool GalleryView::hasPhotos() const {
    if (!m_model)
        return false;
    const QList<Photo>& photos = m_model->photos();
    return std::any_of(photos.cbegin(), photos.cend(),
                       [this](const Photo& photo) { return m_model->hangs(photo); });
}

void GalleryView::switchMode() {
    if (m_model)
        m_model->requestGalleryMode(!m_model->clotheslineMode());
}

void GalleryView::showScreen() {
    if (!m_model || m_dismantled || m_shownMode == m_model->clotheslineMode())
        return;
    const bool rope = m_model->clotheslineMode();
    m_shownMode = rope;
    // The screen shown before goes with its state; the next one starts afresh.
    if (m_rope) {
        m_rope->dismantle();
        m_rope->hide();
        m_rope->deleteLater();
        m_rope = nullptr;
        delete m_ropeKeyboard;
        m_ropeKeyboard = nullptr;
    }
    if (m_grid) {
        m_grid->hide();
        m_grid->deleteLater();
        m_grid = nullptr;
    }
    if (rope) {
        auto* screen = new ClotheslineView(*m_model, this);
        m_rope = screen;
        screen->setOpenSettings(m_openSettings);
        screen->setSwitchToNormal([this] { switchMode(); });
        QPointer<ClotheslineView> weak(screen);
        screen->setPreviewPresenter([this, weak](const Photo& photo) {
            if (m_factory.preview && m_model)
                m_factory.preview(*m_model, photo, window(), [weak] {
                    if (weak)
                        weak->closePreview();
                });
        });
        screen->setWindowPort(m_window.data());
        connect(screen->hitAreas(), &RopeHitAreas::changed, this,
                [this](const QList<RopeHitRegion>& regions) {
                    const QPoint offset = m_rope ? m_rope->mapTo(this, QPoint(0, 0)) : QPoint();
                    QList<QRectF> rects = rectsOf(regions);
                    for (QRectF& rect : rects)
                        rect.translate(offset);
                    m_ropeBridge->setAreas(rects);
                });
        m_ropeKeyboard = new GalleryKeyboardBridge(
            *m_model, m_window.data(), true, [weak] { return weak ? weak->hanging() : QList<Photo>(); },
            [weak](const Photo& photo) {
                if (weak)
                    weak->preview(photo);
            },
            this);
        layout()->addWidget(screen);
    } else if (m_factory.grid) {
        GalleryScreenFactory::GridInputs inputs{
            m_model.data(), m_window.data(), m_openSettings, [this] { switchMode(); },
            [this](const Photo& photo, std::function<void()> closed) {
                if (m_factory.preview && m_model)
                    m_factory.preview(*m_model, photo, window(), std::move(closed));
            }};
        m_grid = m_factory.grid(inputs, this);
        layout()->addWidget(m_grid);
    }
    scheduleStyle();
}

void GalleryView::scheduleStyle() {
    if (m_styleScheduled)
        return;
    m_styleScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_styleScheduled = false;
        applyWindowStyle();
    });
}

void GalleryView::applyWindowStyle() {
    if (!m_model || m_dismantled)
        return;
    m_style->apply(
        {m_model->clotheslineMode(), hasPhotos(), !m_model->selectedIDs().isEmpty(), ReduceMotion::isOn()});
}

void GalleryView::selectAll() {
    if (m_model)
        m_model->setSelectionRequest(m_model->selectionRequest() + 1);
}

void GalleryView::copy() {
    if (m_model && !m_model->selectedIDs().isEmpty())
        m_model->copySelection();
}

void GalleryView::cancelOperation() {
    if (m_model)
        m_model->endSelection();
}

void GalleryView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cancelOperation();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vennimo
