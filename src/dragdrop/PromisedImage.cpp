#include "dragdrop/PromisedImage.h"

#include "dragdrop/ExternalImageDrop.h"
#include "platform/WorkQueue.h"

#include <QtGlobal>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace vennimo {

// Where one promise's reader and its waiter meet. Everything but the mutex and the condition is
// guarded by the mutex.
class PromiseResult {
public:
    std::mutex mutex;
    std::condition_variable signal;
    int expected = 1;
    int received = 0;
    bool finished = false;
    QList<QByteArray> data;
    std::optional<Error> error;

    void accept(std::optional<QByteArray> bytes, std::optional<Error> failure) {
        std::lock_guard lock(mutex);
        if (finished)
            return;
        ++received;
        if (bytes)
            data.append(std::move(*bytes));
        if (failure)
            error = std::move(failure);
        if (received >= expected)
            signal.notify_all();
    }
};

PromisedImage::PromisedImage(std::shared_ptr<FilePromiseReceiver> receiver,
                             std::shared_ptr<PromiseDirectory> directory)
    : m_result(std::make_shared<PromiseResult>())
    , m_receiver(std::move(receiver))
    , m_directory(std::move(directory))
    , m_queue(std::make_shared<SerialQueue>(QStringLiteral("local.vennimo.promise"))) {
    if (!isMainThread())
        qFatal("PromisedImage must be created on the main thread");
    // Held until `expected` is known, so no delivered file counts against the default of one.
    std::unique_lock lock(m_result->mutex);
    std::weak_ptr<SerialQueue> queue = m_queue;
    auto result = m_result;
    auto folder = m_directory;
    m_receiver->receive(m_directory->path(), [queue, result, folder](vennimo::Result<QString> file) {
        auto worker = queue.lock();
        if (!worker)
            return;
        // The task holds the folder, so it outlives every pending read.
        worker->async([result, folder, file = std::move(file)] {
            if (!file.ok()) {
                result->accept(std::nullopt, file.error());
                return;
            }
            auto bytes = ExternalImageDrop::readPromisedFile(*file, folder->path());
            if (bytes.ok())
                result->accept(std::move(bytes.value()), std::nullopt);
            else
                result->accept(std::nullopt, bytes.error());
        });
    });
    m_result->expected = std::max<int>(1, int(m_receiver->fileNames().size()));
}

PromisedImage::~PromisedImage() = default;

PromisedImage::Outcome PromisedImage::take(std::chrono::milliseconds wait,
                                           const std::shared_ptr<const std::atomic<bool>>& cancelled) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::unique_lock lock(m_result->mutex);
    const auto arrived = [this] { return m_result->finished || m_result->received >= m_result->expected; };
    bool complete = arrived();
    // Nobody signals a cancel: it is looked at in short slices of the wait.
    constexpr std::chrono::milliseconds kSlice{100};
    while (!complete && std::chrono::steady_clock::now() < deadline && !(cancelled && *cancelled))
        complete = m_result->signal.wait_until(
            lock, std::min(deadline, std::chrono::steady_clock::now() + kSlice), arrived);
    m_result->finished = true;
    Outcome outcome;
    outcome.timedOut = !complete;
    outcome.data = std::move(m_result->data);
    outcome.error = std::move(m_result->error);
    m_result->data.clear();
    m_result->error.reset();
    return outcome;
}

} // namespace vennimo
