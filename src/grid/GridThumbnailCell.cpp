#include "grid/GridThumbnailCell.h"

#include "platform/ReduceMotion.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>

namespace vennimo {

GridThumbnailCell::Source GridThumbnailCell::Source::shared() {
    return {[](const Photo& photo, double scale) {
                return GalleryThumbnailLoader::shared().cachedImage(photo, scale);
            },
            [](const Photo& photo, double scale, const std::shared_ptr<CancellationToken>& token,
               GalleryThumbnailLoader::Completion completion) {
                GalleryThumbnailLoader::shared().load(photo, scale, token, std::move(completion));
            }};
}

GridThumbnailCell::GridThumbnailCell(const Photo& photo, double scale, Source source, QObject* parent)
    : QObject(parent)
    , m_photo(photo)
    , m_scale(scale)
    , m_source(std::move(source))
    , m_reduceMotion(&ReduceMotion::isOn) {
    m_retry.setSingleShot(true);
}

GridThumbnailCell::~GridThumbnailCell() {
    cancel();
}

void GridThumbnailCell::setPhoto(const Photo& photo, double scale) {
    const QString before = key();
    m_photo = photo;
    m_scale = scale;
    if (key() == before)
        return;
    const bool wasRunning = running();
    cancel();
    if (wasRunning)
        start();
}

GridThumbnailCell::Face GridThumbnailCell::face() const {
    const QString now = key();
    if (m_state && m_state->key == now) {
        Face face{m_state->image, m_state->phase, 1};
        if (fading())
            face.opacity = std::clamp(double(m_fade->elapsed()) / double(kFadeIn.count()), 0.0, 1.0);
        return face;
    }
    if (m_source.cached) {
        if (auto cached = m_source.cached(m_photo, m_scale))
            return {*cached, Phase::loaded, 1};
    }
    return {};
}

bool GridThumbnailCell::fading() const {
    return m_fade && m_fade->isValid() && m_fade->elapsed() < kFadeIn.count();
}

void GridThumbnailCell::start() {
    const QString now = key();
    if (running() && m_taskKey == now)
        return;
    cancel();
    m_token = CancellationToken::make();
    m_taskKey = now;
    ++m_task;
    if (m_source.cached) {
        if (auto cached = m_source.cached(m_photo, m_scale)) {
            m_state = GridThumbnailState{now, *cached, Phase::loaded};
            m_token.reset();
            Q_EMIT changed();
            return;
        }
    }
    if (!m_state || m_state->key != now)
        m_state = GridThumbnailState{now, {}, Phase::loading};
    if (m_state->phase != Phase::loading) {
        m_token.reset();
        return;
    }
    issueLoad(1);
}

void GridThumbnailCell::cancel() {
    m_retry.stop();
    m_retry.disconnect();
    if (!m_token)
        return;
    // The token settles the load with `cancelled`, which the task number then drops.
    const auto token = std::move(m_token);
    ++m_task;
    token->cancel();
}

bool GridThumbnailCell::current(std::uint64_t task) const {
    return task == m_task && m_token && !m_token->isCancelled() && m_state && m_state->key == m_taskKey;
}

void GridThumbnailCell::issueLoad(int attempt) {
    if (!m_source.load)
        return;
    ++m_loads;
    const std::uint64_t task = m_task;
    QPointer<GridThumbnailCell> self(this);
    m_source.load(m_photo, m_scale, m_token, [self, task, attempt](const GridThumbnailOutcome& outcome) {
        // Settled on a worker, on this thread for a cache hit, or inside a cancel: the cell is
        // only touched from the main thread's next turn.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, task, attempt, outcome] {
                if (self)
                    self->finished(task, attempt, outcome);
            },
            Qt::QueuedConnection);
    });
}

void GridThumbnailCell::finished(std::uint64_t task, int attempt, const GridThumbnailOutcome& outcome) {
    if (!current(task))
        return;
    using Kind = GridThumbnailOutcome::Kind;
    if (outcome.kind == Kind::Changed && attempt == 1) {
        m_retry.disconnect();
        connect(&m_retry, &QTimer::timeout, this, [this, task] {
            if (current(task))
                issueLoad(2);
        });
        m_retry.start(m_retryDelay);
        return;
    }
    m_token.reset();
    switch (outcome.kind) {
    case Kind::Image:
        m_state->image = outcome.image;
        m_state->phase = Phase::loaded;
        if (m_reduceMotion && m_reduceMotion())
            m_fade.reset();
        else
            m_fade.emplace().start();
        break;
    case Kind::Failed:
        m_state->image = {};
        m_state->phase = Phase::failed;
        m_fade.reset();
        break;
    case Kind::Changed:
    case Kind::Cancelled:
        // The cell keeps its loading face until its key changes or its task starts again.
        return;
    }
    Q_EMIT changed();
}

QString GridThumbnailCell::failureText(const Photo& photo) {
    return photo.format() + QString::fromUtf8(" · 用默认应用查看");
}

} // namespace vennimo
