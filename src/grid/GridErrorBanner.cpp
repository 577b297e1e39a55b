#include "grid/GridErrorBanner.h"

#include "grid/GridSymbol.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"
#include "widgets/ToolbarSymbol.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace vennimo {

namespace {

const QColor kOrange(255, 149, 0);
constexpr double kCaptionPixels = 11;
constexpr double kClosePixels = 10;

class WarningSign : public QWidget {
public:
    explicit WarningSign(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(int(kCaptionPixels) + 4, int(kCaptionPixels) + 4);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        GridSymbol::paint(painter, QStringLiteral("exclamationmark.triangle"), rect(), kCaptionPixels + 1,
                          kOrange);
    }
};

QIcon closeIcon(const QColor& colour, double dpr) {
    QPixmap pixmap{QSize(int(kClosePixels), int(kClosePixels)) * dpr};
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    // Bold, as a small close mark must be to read.
    ToolbarSymbol::paint(painter, QStringLiteral("xmark"), QRectF(0, 0, kClosePixels, kClosePixels),
                         kClosePixels, colour, 2);
    return QIcon(pixmap);
}

} // namespace

GridErrorBanner::GridErrorBanner(QWidget* parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
    , m_close(new QToolButton(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kHorizontalPadding, 0, kHorizontalPadding, kBottomPadding);
    row->setSpacing(kSpacing);
    row->addWidget(new WarningSign(this), 0, Qt::AlignTop);
    // Messages name files and folders; those show as written, never as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setFont(ClotheslineToolbarButtonStyle::font(kCaptionPixels));
    QPalette orange = m_label->palette();
    orange.setColor(QPalette::WindowText, kOrange);
    m_label->setPalette(orange);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_label, 1, Qt::AlignTop);
    m_close->setAutoRaise(true);
    m_close->setFixedSize(kCloseFrame, kCloseFrame);
    m_close->setIcon(closeIcon(palette().color(QPalette::PlaceholderText), devicePixelRatioF()));
    m_close->setIconSize(QSize(int(kClosePixels), int(kClosePixels)));
    m_close->setAccessibleName(QString::fromUtf8("关闭提示"));
    m_close->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    row->addWidget(m_close, 0, Qt::AlignTop);
    connect(m_close, &QToolButton::clicked, this, &GridErrorBanner::dismissRequested);
}

void GridErrorBanner::setText(const QString& text) {
    m_label->setText(text);
}

QString GridErrorBanner::text() const {
    return m_label->text();
}

} // namespace vennimo
