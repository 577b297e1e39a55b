#include "settings/HangingMotionPreview.h"

#include "platform/ReduceMotion.h"
#include "rendering/PolaroidRenderer.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace vennimo {

namespace {

constexpr double kRopeEndInset = 8;
constexpr double kRopeY = 14;
constexpr double kRopeControlY = 42;
constexpr double kRopeWidth = 1.4;
constexpr double kPaperEdgeWidth = 0.7;

struct PegPoint {
    double widthFraction;
    double y;
};
constexpr std::array<PegPoint, 3> kPegPoints{{{0.19, 18}, {0.5, 28}, {0.81, 18}}};

QColor rgb(double r, double g, double b, double a = 1) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

const std::array<QColor, 3>& pictureColors() {
    static const std::array<QColor, 3> colors{rgb(0.4, 0.62, 0.6), rgb(0.78, 0.58, 0.38),
                                              rgb(0.59, 0.6, 0.74)};
    return colors;
}

} // namespace

HangingMotionPreview::HangingMotionPreview(HangingStyle style, QWidget* parent)
    : QWidget(parent)
    , m_style(style) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The card's own label describes it.
    setAccessibleName(QString());
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(int(kTickSeconds * 1000));
    connect(&m_timer, &QTimer::timeout, this, &HangingMotionPreview::tick);
}

const std::array<QSizeF, 3>& HangingMotionPreview::ratios() {
    static const std::array<QSizeF, 3> sizes{QSizeF(3, 2), QSizeF(2, 3), QSizeF(1, 1)};
    return sizes;
}

QString HangingMotionPreview::identity(int index) {
    return QStringLiteral("preview-") + QString::number(index);
}

QString HangingMotionPreview::animationKey() const {
    const auto word = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringList{word(m_style.offCenter), word(m_style.strictlyVertical), QString::number(m_replay),
                       word(ReduceMotion::isOn())}
        .join(QLatin1Char('-'));
}

QList<PhotoPendulum> HangingMotionPreview::startPoses(const HangingStyle& style) {
    QList<PhotoPendulum> poses;
    for (int i = 0; i < int(ratios().size()); ++i) {
        const HangingStyle::Pose rest = style.pose(identity(i), ratios()[size_t(i)]);
        PhotoPendulum pendulum;
        pendulum.offset = rest.offset;
        pendulum.targetOffset = rest.offset;
        if (style.strictlyVertical) {
            pendulum.damping = 22;
            pendulum.stiffness = 120;
        } else {
            // The kick points away from the vertical, the way the print tilts at rest.
            pendulum.angle = rest.angle >= 0 ? rest.angle + kKickDegrees : rest.angle - kKickDegrees;
            pendulum.targetAngle = rest.angle;
            pendulum.damping = style.offCenter ? 6.5 : 8;
            pendulum.stiffness = style.offCenter ? 75 : 95;
        }
        poses.append(pendulum);
    }
    return poses;
}

double HangingMotionPreview::bounce(double elapsed, bool reduceMotion) {
    if (reduceMotion)
        return 0;
    return 3 * std::sin(10 * elapsed) * std::exp(-3 * elapsed);
}

void HangingMotionPreview::setReplay(int replay) {
    if (m_replay == replay)
        return;
    m_replay = replay;
    if (isVisible())
        restart();
}

void HangingMotionPreview::restart() {
    m_timer.stop();
    m_reduceMotion = ReduceMotion::isOn();
    m_poses = startPoses(m_style);
    m_ticks = 0;
    if (m_reduceMotion) {
        settle();
        return;
    }
    m_elapsed = 0;
    m_timer.start();
    update();
}

void HangingMotionPreview::tick() {
    if (!m_timer.isActive())
        return;
    m_elapsed += kTickSeconds;
    for (PhotoPendulum& pendulum : m_poses)
        pendulum.step(kTickSeconds);
    if (++m_ticks >= kTickCount) {
        m_timer.stop();
        settle();
        return;
    }
    update();
}

void HangingMotionPreview::settle() {
    // Exactly at rest, even where a pendulum had not quite settled by the last tick.
    for (PhotoPendulum& pendulum : m_poses) {
        pendulum.angle = pendulum.targetAngle;
        pendulum.offset = pendulum.targetOffset;
        pendulum.velocity = 0;
        pendulum.offsetVelocity = 0;
    }
    if (m_reduceMotion)
        m_elapsed = kRestElapsedSeconds;
    update();
}

void HangingMotionPreview::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    restart();
}

void HangingMotionPreview::hideEvent(QHideEvent* event) {
    // Leaving the screen cancels the run where it stands.
    m_timer.stop();
    QWidget::hideEvent(event);
}

QSize HangingMotionPreview::sizeHint() const {
    return {240, kHeight};
}

QSize HangingMotionPreview::minimumSizeHint() const {
    return {10, kHeight};
}

void HangingMotionPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double drop = bounce(m_elapsed, m_reduceMotion);

    QPainterPath rope;
    rope.moveTo(kRopeEndInset, kRopeY);
    rope.quadTo(0.5 * w, kRopeControlY + drop, w - kRopeEndInset, kRopeY);
    painter.setPen(QPen(rgb(0.57, 0.52, 0.42), kRopeWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(rope);

    const QColor paper = rgb(1.0, 0.99, 0.96);
    const QColor edge = rgb(0.64, 0.52, 0.37, 0.22);
    const QColor peg = rgb(0.83, 0.63, 0.38);
    for (int i = 0; i < 3; ++i) {
        double angle = 0;
        double offset = 0;
        if (m_poses.size() > i) {
            angle = m_poses[i].angle;
            offset = m_poses[i].offset;
        } else {
            const HangingStyle::Pose rest = m_style.pose(identity(i), ratios()[size_t(i)]);
            angle = rest.angle;
            offset = rest.offset;
        }
        const PolaroidGeometry g =
            PolaroidRenderer::geometry(kPrintCanvas, ratios()[size_t(i)], angle, offset);
        const QPointF point(kPegPoints[size_t(i)].widthFraction * w, kPegPoints[size_t(i)].y);
        painter.save();
        painter.translate(point.x() - g.pegAnchor.x(), point.y() + drop - g.pegAnchor.y());
        painter.setPen(QPen(edge, kPaperEdgeWidth));
        painter.setBrush(paper);
        painter.drawPath(g.paperPath);
        painter.setPen(Qt::NoPen);
        QPainterPath picture;
        picture.addRect(g.imageRect);
        painter.fillPath(g.paperTransform.map(picture), pictureColors()[size_t(i)]);
        painter.fillPath(g.pegPath, peg);
        painter.restore();
    }
}

} // namespace vennimo
