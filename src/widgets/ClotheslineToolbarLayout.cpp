#include "widgets/ClotheslineToolbarLayout.h"

#include "platform/ReduceMotion.h"

#include <QWidget>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vennimo {

namespace {

constexpr double kSettledSeconds = 1.2;

QRectF mix(const QRectF& a, const QRectF& b, double t) {
    return QRectF(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t,
                  a.width() + (b.width() - a.width()) * t, a.height() + (b.height() - a.height()) * t);
}

} // namespace

ClotheslineToolbarLayout::ClotheslineToolbarLayout(QWidget* parent)
    : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
    m_timer.setInterval(kFrameInterval);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ClotheslineToolbarLayout::step);
}

ClotheslineToolbarLayout::~ClotheslineToolbarLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

double ClotheslineToolbarLayout::springProgress(double seconds) {
    if (seconds <= 0)
        return 0;
    const double omega = 2 * std::numbers::pi / kSpringResponseSeconds;
    const double zeta = kSpringDampingFraction;
    const double damped = omega * std::sqrt(1 - zeta * zeta);
    const double decay = std::exp(-zeta * omega * seconds);
    return 1 - decay * (std::cos(damped * seconds) + zeta * omega / damped * std::sin(damped * seconds));
}

void ClotheslineToolbarLayout::addItem(QLayoutItem* item) {
    m_items.append(item);
    invalidate();
}

QLayoutItem* ClotheslineToolbarLayout::itemAt(int index) const {
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* ClotheslineToolbarLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    invalidate();
    return m_items.takeAt(index);
}

QSize ClotheslineToolbarLayout::sizeHint() const {
    return QSize(int(kProposedWidth), int(kBarHeight));
}

QSize ClotheslineToolbarLayout::minimumSize() const {
    return QSize(0, int(kBarHeight));
}

ClotheslineToolbarGeometry ClotheslineToolbarLayout::toolbarGeometry() const {
    const auto width = [this](int index) -> double {
        QLayoutItem* item = itemAt(index);
        if (!item || item->isEmpty())
            return 0;
        return item->sizeHint().width();
    };
    // The leading item is 175 wide unless its content cannot fit there: then it takes what it
    // needs rather than cut what it shows.
    QLayoutItem* leading = itemAt(1);
    const double leadingWidth =
        leading && !leading->isEmpty()
            ? std::max<double>(ClotheslineToolbarGeometry::kLeadingWidth, leading->sizeHint().width())
            : ClotheslineToolbarGeometry::kLeadingWidth;
    return {width(2), width(4), width(3), width(5), leadingWidth};
}

void ClotheslineToolbarLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QRectF bar(rect.x(), rect.y(), rect.width(), kBarHeight);
    const std::array<QRectF, kChildCount> frames = toolbarGeometry().frames(bar);
    const bool changed = frames != m_target;
    m_target = frames;
    const bool animate = m_animateNext && m_placed && changed && !ReduceMotion::isOn();
    if (changed)
        m_animateNext = false;
    if (animate) {
        m_from = m_shown;
        m_clock.start();
        m_timer.start();
        step();
        return;
    }
    if (!m_timer.isActive())
        place(m_target);
}

void ClotheslineToolbarLayout::step() {
    const double seconds = double(m_clock.nsecsElapsed()) / 1e9;
    if (seconds >= kSettledSeconds) {
        m_timer.stop();
        place(m_target);
        return;
    }
    const double t = springProgress(seconds);
    std::array<QRectF, kChildCount> frames;
    for (int i = 0; i < kChildCount; ++i)
        frames[i] = mix(m_from[i], m_target[i], t);
    place(frames);
}

void ClotheslineToolbarLayout::place(const std::array<QRectF, kChildCount>& frames) {
    m_shown = frames;
    m_placed = true;
    for (int i = 0; i < std::min<int>(kChildCount, int(m_items.size())); ++i) {
        QLayoutItem* item = m_items.at(i);
        const QRectF& f = frames[i];
        if (i == 0) {
            item->setGeometry(f.toRect());
            continue;
        }
        const int height = item->isEmpty() ? int(kItemHeight) : item->sizeHint().height();
        const double top = f.center().y() - height / 2.0;
        item->setGeometry(
            QRect(int(std::lround(f.x())), int(std::lround(top)), int(std::lround(f.width())), height));
    }
}

} // namespace vennimo
