#include "grid/GalleryHeader.h"

#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace vennimo {

GalleryHeader::GalleryHeader(QWidget* actionBar, QWidget* parent)
    : QWidget(parent)
    , m_title(new QWidget(this))
    , m_name(new QLabel(QStringLiteral("Vennimo"), m_title))
    , m_count(new QLabel(m_title))
    , m_bar(actionBar) {
    auto* stack = new QVBoxLayout(m_title);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(kTitleSpacing);
    m_name->setFont(ClotheslineToolbarButtonStyle::font(20, QFont::Bold));
    m_count->setFont(ClotheslineToolbarButtonStyle::font(11));
    m_count->setForegroundRole(QPalette::PlaceholderText);
    stack->addWidget(m_name);
    stack->addWidget(m_count);
    m_bar->setParent(this);
    m_bar->installEventFilter(this);
    setCount(0, false);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QString GalleryHeader::countText(qsizetype count, bool importing) {
    if (importing)
        return QString::fromUtf8("正在保存…");
    return QString::number(count) + QString::fromUtf8(" 张");
}

void GalleryHeader::setCount(qsizetype count, bool importing) {
    m_count->setText(countText(count, importing));
    m_title->adjustSize();
    updateGeometry();
    place();
}

QString GalleryHeader::countLabel() const {
    return m_count->text();
}

bool GalleryHeader::fitsWide(int width) const {
    const int needed = 2 * kHorizontalPadding + m_title->sizeHint().width() + 2 * kWideSpacing + kMinimumGap +
                       m_bar->sizeHint().width();
    return needed <= width;
}

int GalleryHeader::heightForWidth(int width) const {
    const int title = m_title->sizeHint().height();
    const int bar = m_bar->sizeHint().height();
    if (fitsWide(width))
        return 2 * kVerticalPadding + std::max(title, bar);
    return 2 * kVerticalPadding + title + kNarrowSpacing + bar;
}

QSize GalleryHeader::sizeHint() const {
    const int width = 2 * kHorizontalPadding + m_title->sizeHint().width() + 2 * kWideSpacing + kMinimumGap +
                      m_bar->sizeHint().width();
    return {width, heightForWidth(width)};
}

QSize GalleryHeader::minimumSizeHint() const {
    return {0, heightForWidth(0)};
}

bool GalleryHeader::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_bar && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        place();
    }
    return QWidget::eventFilter(watched, event);
}

void GalleryHeader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void GalleryHeader::place() {
    const QSize title = m_title->sizeHint();
    const QSize bar = m_bar->sizeHint();
    if (fitsWide(width())) {
        const int row = std::max(title.height(), bar.height());
        m_title->setGeometry(kHorizontalPadding, kVerticalPadding + (row - title.height()) / 2, title.width(),
                             title.height());
        m_bar->setGeometry(width() - kHorizontalPadding - bar.width(),
                           kVerticalPadding + (row - bar.height()) / 2, bar.width(), bar.height());
    } else {
        m_title->setGeometry(kHorizontalPadding, kVerticalPadding, title.width(), title.height());
        m_bar->setGeometry(kHorizontalPadding, kVerticalPadding + title.height() + kNarrowSpacing,
                           bar.width(), bar.height());
    }
}

} // namespace vennimo
