#include "canvas/ClotheslineCanvasView.h"

#include "model/GalleryModel.h"
#include "platform/FileManager1.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QUrl>

namespace vennimo {

void ClotheslineCanvasView::presentMenu(QMenu& menu, QPoint globalPos) {
    if (m_menuPresenter)
        m_menuPresenter(menu, globalPos);
    else
        menu.exec(globalPos);
}

void ClotheslineCanvasView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    const QPointF p = event->pos();
    m_contextPhoto = photo(p);
    if (!m_contextPhoto) {
        // Only the rope's own stroke offers the rope menu: beside it, and at a knot's corner
        // that reaches past it, the click is not on the rope.
        if (m_previewing || m_sessionInProgress || m_externalDrop || !ropeStrokeContains(p))
            return;
        const std::unique_ptr<QMenu> menu = ropeContextMenu();
        presentMenu(*menu, event->globalPos());
        return;
    }
    if (m_model)
        m_model->acknowledge({*m_contextPhoto});
    syncPhotoLayers();
    update();
    const std::unique_ptr<QMenu> menu = photoContextMenu();
    presentMenu(*menu, event->globalPos());
}

std::unique_ptr<QMenu> ClotheslineCanvasView::photoContextMenu() {
    auto menu = std::make_unique<QMenu>();
    const bool alive = m_model && !m_model->deleting();
    const bool changes = alive && !m_model->importing() && !m_model->exhibitionBlocked();
    const struct {
        const char* title;
        void (ClotheslineCanvasView::*action)();
        bool enabled;
    } items[] = {
        {"查看大图", &ClotheslineCanvasView::previewContext, alive},
        {"属性", &ClotheslineCanvasView::propertiesContext, alive},
        {"复制", &ClotheslineCanvasView::copyContext, changes},
        {"从晾衣绳取下", &ClotheslineCanvasView::takeDownContext, changes},
        {"用默认应用打开", &ClotheslineCanvasView::openContext, true},
        {"在文件管理器中显示", &ClotheslineCanvasView::revealContext, true},
    };
    for (const auto& item : items) {
        QAction* action = menu->addAction(QString::fromUtf8(item.title));
        action->setEnabled(item.enabled);
        connect(action, &QAction::triggered, this, item.action);
    }
    return menu;
}

void ClotheslineCanvasView::previewContext() {
    if (m_contextPhoto && m_onPreview)
        m_onPreview(*m_contextPhoto);
}

void ClotheslineCanvasView::propertiesContext() {
    if (m_contextPhoto && m_model)
        m_model->showProperties(QList<Photo>{*m_contextPhoto});
}

void ClotheslineCanvasView::copyContext() {
    if (!m_contextPhoto || !m_model)
        return;
    if (m_model->selectionMode() && m_model->selectedIDs().contains(m_contextPhoto->id))
        m_model->copySelection();
    else
        m_model->copy(*m_contextPhoto);
}

void ClotheslineCanvasView::takeDownContext() {
    if (m_contextPhoto && m_model)
        m_model->setHanging({*m_contextPhoto}, false, RopeHistoryRecording::record);
}

void ClotheslineCanvasView::openContext() {
    if (!m_contextPhoto || !m_model)
        return;
    const Photo photo = *m_contextPhoto;
    const bool opened =
        m_openFile ? m_openFile(photo.path) : QDesktopServices::openUrl(QUrl::fromLocalFile(photo.path));
    if (!opened || !m_model || m_model->exhibitionBlocked())
        return;
    // A copy that went out to another application stays when its copying is undone.
    m_model->insertUsedCopyID(photo.recordKey());
    m_model->acknowledge({photo});
}

void ClotheslineCanvasView::revealContext() {
    if (!m_contextPhoto)
        return;
    if (m_revealFile)
        m_revealFile(m_contextPhoto->path);
    else
        FileManager1().reveal({m_contextPhoto->path});
}

} // namespace vennimo
