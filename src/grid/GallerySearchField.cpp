#include "grid/GallerySearchField.h"

#include "grid/GridSymbol.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>

namespace vennimo {

namespace {

constexpr double kGlassPixels = 12;
constexpr int kClearPixels = 14;

class SymbolLabel : public QWidget {
public:
    SymbolLabel(QString symbol, double size, QWidget* parent)
        : QWidget(parent)
        , m_symbol(std::move(symbol))
        , m_size(size) {
        setFixedSize(int(size) + 2, int(size) + 2);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        GridSymbol::paint(painter, m_symbol, rect(), m_size, palette().color(QPalette::PlaceholderText));
    }

private:
    QString m_symbol;
    double m_size;
};

QIcon clearIcon(const QColor& colour, double dpr) {
    QPixmap pixmap(QSize(kClearPixels, kClearPixels) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    GridSymbol::paint(painter, QStringLiteral("xmark.circle.fill"), QRectF(0, 0, kClearPixels, kClearPixels),
                      kClearPixels, colour);
    return QIcon(pixmap);
}

} // namespace

GallerySearchField::GallerySearchField(QWidget* parent)
    : QWidget(parent)
    , m_edit(new QLineEdit(this))
    , m_clear(new QToolButton(this)) {
    setFixedWidth(kWidth);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kHorizontalPadding, kVerticalPadding, kHorizontalPadding, kVerticalPadding);
    row->setSpacing(kSpacing);
    row->addWidget(new SymbolLabel(QStringLiteral("magnifyingglass"), kGlassPixels, this));
    m_edit->setFrame(false);
    m_edit->setFont(ClotheslineToolbarButtonStyle::font(13));
    m_edit->setPlaceholderText(QString::fromUtf8("搜索"));
    m_edit->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette clear = m_edit->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    m_edit->setPalette(clear);
    row->addWidget(m_edit, 1);
    QColor tertiary = palette().color(QPalette::WindowText);
    tertiary.setAlphaF(0.3);
    m_clear->setIcon(clearIcon(tertiary, devicePixelRatioF()));
    m_clear->setIconSize(QSize(kClearPixels, kClearPixels));
    m_clear->setAutoRaise(true);
    m_clear->setCursor(Qt::ArrowCursor);
    m_clear->setAccessibleName(QString::fromUtf8("清除搜索"));
    m_clear->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    m_clear->setVisible(false);
    row->addWidget(m_clear);
    connect(m_clear, &QToolButton::clicked, this, [this] { setText({}); });
    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_clear->setVisible(!text.isEmpty());
        Q_EMIT textChanged(text);
    });
}

void GallerySearchField::setText(const QString& text) {
    if (m_edit->text() != text)
        m_edit->setText(text);
}

void GallerySearchField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A tenth of the text colour, at half strength.
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.1 * 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
}

} // namespace vennimo
