#include "widgets/HoverHint.h"

#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace vennimo {

namespace {

class HintLabel : public QWidget {
public:
    HintLabel(QWidget* parent, const QString& text)
        : QWidget(parent)
        , m_text(text) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setAccessibleName(QString());
        const QFontMetricsF metrics(font());
        resize(int(std::ceil(metrics.horizontalAdvance(m_text) + 2 * HoverHint::kHorizontalPadding)),
               int(std::ceil(metrics.height() + 2 * HoverHint::kVerticalPadding)));
    }

    static QFont font() { return ClotheslineToolbarButtonStyle::font(HoverHint::kTextPixels); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, float(HoverHint::kBackgroundOpacity)));
        painter.drawRoundedRect(QRectF(rect()), HoverHint::kCornerRadius, HoverHint::kCornerRadius);
        painter.setFont(font());
        painter.setPen(Qt::white);
        painter.drawText(QRectF(rect()), Qt::AlignCenter | Qt::TextSingleLine, m_text);
    }

private:
    QString m_text;
};

} // namespace

HoverHint::HoverHint(QWidget* target, const QString& text)
    : QObject(target)
    , m_target(target)
    , m_text(text) {
    target->setAttribute(Qt::WA_Hover);
    target->installEventFilter(this);
    m_delay.setSingleShot(true);
    m_delay.setInterval(kDelay);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        if (m_hovering && !m_shown)
            show();
    });
}

HoverHint::~HoverHint() {
    delete m_label;
}

void HoverHint::setPlacement(double offsetBelow, double margin) {
    m_offsetBelow = offsetBelow;
    m_margin = margin;
    if (m_shown)
        place();
}

void HoverHint::setText(const QString& text) {
    if (m_text == text)
        return;
    m_text = text;
    if (m_shown) {
        hide();
        show();
    }
}

bool HoverHint::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_target)
        return false;
    switch (event->type()) {
    case QEvent::Enter:
        m_hovering = true;
        // Coming back within the delay waits the whole delay again.
        m_delay.start();
        break;
    case QEvent::Leave:
    case QEvent::Hide:
        m_hovering = false;
        m_delay.stop();
        hide();
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (m_shown)
            place();
        break;
    default:
        break;
    }
    return false;
}

void HoverHint::show() {
    if (!m_target || !m_target->isVisible() || m_text.isEmpty())
        return;
    m_shown = true;
    delete m_label;
    m_label = new HintLabel(m_target->window(), m_text);
    place();
    m_label->show();
    m_label->raise();
}

void HoverHint::hide() {
    m_shown = false;
    // Later: a hide of the window reaches here while Qt walks the window's children, of which the
    // label is one, and deleting it there would pull it from under that walk.
    if (m_label) {
        m_label->hide();
        m_label->deleteLater();
        m_label = nullptr;
    }
}

void HoverHint::place() {
    if (!m_label || !m_target)
        return;
    QWidget* window = m_target->window();
    const QPoint top = m_target->mapTo(window, QPoint(m_target->width() / 2, 0));
    int x = top.x() - m_label->width() / 2;
    const int margin = int(m_margin);
    x = std::clamp(x, margin, std::max(margin, window->width() - m_label->width() - margin));
    m_label->move(x, top.y() + int(m_offsetBelow));
}

} // namespace vennimo
