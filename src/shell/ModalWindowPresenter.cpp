#include "shell/ModalWindowPresenter.h"

#include "shell/GalleryWindowLayer.h"
#include "shell/WindowActivation.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace vennimo {

ModalWindowPresenter::ModalWindowPresenter(std::function<bool(QWidget*)> skip, QObject* parent)
    : QObject(parent)
    , m_skip(std::move(skip)) {
    if (qApp)
        qApp->installEventFilter(this);
}

ModalWindowPresenter::~ModalWindowPresenter() {
    if (qApp)
        qApp->removeEventFilter(this);
}

bool ModalWindowPresenter::presents(QWidget* window) const {
    if (!window || !window->isWindow() || GalleryWindowLayer::isRegistered(window))
        return false;
    if (!qobject_cast<QDialog*>(window) && window->windowType() != Qt::Dialog)
        return false;
    return !(m_skip && m_skip(window));
}

QWidget* ModalWindowPresenter::ownerOf(QWidget* dialog) {
    if (QWidget* parent = dialog->parentWidget()) {
        QWidget* window = parent->window();
        if (window->isVisible())
            return window;
    }
    return GalleryWindowLayer::topmostShown();
}

bool ModalWindowPresenter::eventFilter(QObject* watched, QEvent* event) {
    // Show comes before the window is mapped, while its transient parent and state can still be
    // set as properties the window manager reads when it takes the window.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* window = static_cast<QWidget*>(watched);
        if (presents(window))
            place(window);
    }
    return false;
}

void ModalWindowPresenter::place(QWidget* dialog) {
    QWindow* handle = dialog->windowHandle();
    if (!handle)
        return;
    QWidget* owner = ownerOf(dialog);
    if (owner && owner->windowHandle() && handle->transientParent() != owner->windowHandle())
        handle->setTransientParent(owner->windowHandle());
    // Above the floating windows while there are any: a dialog whose owner is hidden has nothing
    // to inherit its layer from.
    if (GalleryWindowLayer::enabled())
        GalleryWindowLayer::applyLevel(dialog, GalleryWindowLayer::kModalLevel,
                                       owner ? GalleryWindowLayer::onAllWorkspaces(owner) : true);
    // The user waits for this answer, even when another program has the keyboard.
    WindowActivation::activate(dialog);
}

} // namespace vennimo
