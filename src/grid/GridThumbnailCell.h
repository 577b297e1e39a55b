#pragma once

#include "core/Photo.h"
#include "rendering/CancellationToken.h"
#include "rendering/GalleryThumbnailLoader.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

// The state of one card's thumbnail: which key it belongs to, the picture once decoded, and
// whether it is loading, loaded or failed.
struct GridThumbnailState {
    enum class Phase { loading, loaded, failed };
    QString key;
    QImage image;
    Phase phase = Phase::loading;
};

// One card's grid thumbnail. A picture already in the loader's cache shows at once and starts no
// load; otherwise the cell's task loads it in the background, tries once more half a second
// later when the file changed during the decode, and drops any result that no longer belongs to
// the cell's key. Main thread only; the loader's completions come back through the event loop.
class GridThumbnailCell : public QObject {
    Q_OBJECT

public:
    using Phase = GridThumbnailState::Phase;
    // Where pictures come from; the default is the shared loader.
    struct Source {
        std::function<std::optional<QImage>(const Photo&, double scale)> cached;
        std::function<void(const Photo&, double scale, const std::shared_ptr<CancellationToken>&,
                           GalleryThumbnailLoader::Completion)>
            load;
        static Source shared();
    };
    // What the cell shows now.
    struct Face {
        QImage image;
        Phase phase = Phase::loading;
        // Below 1 while a newly loaded picture fades in.
        double opacity = 1;
    };

    static constexpr std::chrono::milliseconds kRetryDelay{500};
    static constexpr std::chrono::milliseconds kFadeIn{150};

    GridThumbnailCell(const Photo& photo, double scale, Source source = Source::shared(),
                      QObject* parent = nullptr);
    ~GridThumbnailCell() override;

    const Photo& photo() const { return m_photo; }
    double scale() const { return m_scale; }
    QString key() const { return GalleryThumbnailLoader::key(m_photo, m_scale); }
    // A new photo value or scale; a changed key cancels the running task and starts the next.
    void setPhoto(const Photo& photo, double scale);

    Face face() const;
    const std::optional<GridThumbnailState>& state() const { return m_state; }
    bool fading() const;
    // The task: runs while the cell is on screen. Starting it again for the same key does nothing
    // while it runs.
    void start();
    void cancel();
    bool running() const { return m_token != nullptr; }
    // Loads asked of the source since the cell was made.
    int loads() const { return m_loads; }

    void setRetryDelay(std::chrono::milliseconds delay) { m_retryDelay = delay; }
    void setReduceMotion(std::function<bool()> reduceMotion) { m_reduceMotion = std::move(reduceMotion); }

    // The text under the failure face: the file's format, then " · 用默认应用查看".
    static QString failureText(const Photo& photo);

Q_SIGNALS:
    void changed();

private:
    void issueLoad(int attempt);
    void finished(std::uint64_t task, int attempt, const GridThumbnailOutcome& outcome);
    bool current(std::uint64_t task) const;

    Photo m_photo;
    double m_scale;
    Source m_source;
    std::optional<GridThumbnailState> m_state;
    std::shared_ptr<CancellationToken> m_token;
    QString m_taskKey;
    std::uint64_t m_task = 0;
    int m_loads = 0;
    QTimer m_retry;
    std::chrono::milliseconds m_retryDelay = kRetryDelay;
    std::function<bool()> m_reduceMotion;
    std::optional<QElapsedTimer> m_fade;
};

} // namespace vennimo
