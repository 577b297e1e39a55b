#include "shell/PreviewStandIn.h"

#include "platform/ImageDecoder.h"
#include "widgets/AlertFont.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

namespace vennimo {

PreviewStandIn::PreviewStandIn(const Photo& photo, std::function<void()> closed)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint)
    , m_closed(std::move(closed)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QFileInfo(photo.path).fileName());
    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setAlignment(Qt::AlignCenter);
    if (const Result<QImage> image = ImageDecoder::decodeScaled(photo.path, kMaxPixels))
        picture->setPixmap(QPixmap::fromImage(*image));
    else
        picture->setText(image.error().message);
    auto* name = new QLabel(QFileInfo(photo.path).fileName(), this);
    name->setFont(alertFont(11));
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture, 1);
    layout->addWidget(name);
}

PreviewStandIn::~PreviewStandIn() {
    if (m_closed)
        m_closed();
}

void PreviewStandIn::open(const Photo& photo, QWidget* window, std::function<void()> closed) {
    auto* preview = new PreviewStandIn(photo, std::move(closed));
    preview->adjustSize();
    if (QScreen* screen = window ? window->screen() : nullptr) {
        QRect frame = preview->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        preview->move(frame.topLeft());
    }
    preview->show();
    preview->raise();
    preview->activateWindow();
}

void PreviewStandIn::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vennimo
