#include "shell/GridStandIn.h"

#include "model/GalleryModel.h"
#include "shell/GalleryKeyboardBridge.h"
#include "widgets/AlertFont.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vennimo {

GridStandIn::GridStandIn(const GalleryScreenFactory::GridInputs& inputs, QWidget* parent)
    : QWidget(parent)
    , m_model(inputs.model) {
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(QString::fromUtf8("照片"), this);
    title->setFont(alertFont(18));
    title->setAlignment(Qt::AlignCenter);
    m_count = new QLabel(this);
    m_count->setFont(alertFont(11));
    m_count->setAlignment(Qt::AlignCenter);
    m_rope = new QPushButton(QString::fromUtf8("回到晾衣绳"), this);
    m_rope->setFont(alertFont(11));
    m_rope->setObjectName(QStringLiteral("grid-switch-to-clothesline"));
    connect(m_rope, &QPushButton::clicked, this, [callback = inputs.switchToClothesline] {
        if (callback)
            callback();
    });
    layout->addWidget(title);
    layout->addWidget(m_count);
    layout->addWidget(m_rope, 0, Qt::AlignCenter);
    if (m_model) {
        connect(m_model, &GalleryModel::photosChanged, this, &GridStandIn::refresh);
        m_keyboard = new GalleryKeyboardBridge(
            *m_model, inputs.window, false,
            [model = m_model] { return model ? model->photos() : QList<Photo>(); }, {}, this);
    }
    refresh();
}

void GridStandIn::refresh() {
    const qsizetype count = m_model ? m_model->photos().size() : 0;
    m_count->setText(QString::fromUtf8("共 %1 张照片").arg(count));
}

} // namespace vennimo
