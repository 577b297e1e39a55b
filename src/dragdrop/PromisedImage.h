#pragma once

#include "dragdrop/FilePromiseReceiver.h"
#include "dragdrop/PromiseDirectory.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

namespace vennimo {

class PromiseResult;
class SerialQueue;

// One file promise of a drop whose receiving has started. Its files are read one at a time on a
// queue of its own as the source delivers them; the importer collects them with `take`.
class PromisedImage {
public:
    static constexpr std::chrono::milliseconds kWait{30'000};

    struct Outcome {
        bool timedOut = false;
        QList<QByteArray> data{};
        std::optional<Error> error{};
    };

    // Main thread only (it stops the program elsewhere): some promise protocols must finish their
    // exchange before the drop handler returns. Starts receiving at once.
    PromisedImage(std::shared_ptr<FilePromiseReceiver> receiver, std::shared_ptr<PromiseDirectory> directory);
    ~PromisedImage();
    PromisedImage(const PromisedImage&) = delete;
    PromisedImage& operator=(const PromisedImage&) = delete;

    // Waits until every announced file was reported or `wait` passed, then closes the promise:
    // later files are ignored. A time-out wins even when some files arrived.
    // With `cancelled`, the wait also ends, as a time-out, soon after it is set.
    Outcome take(std::chrono::milliseconds wait = kWait,
                 const std::shared_ptr<const std::atomic<bool>>& cancelled = {});

    const std::shared_ptr<PromiseDirectory>& directory() const { return m_directory; }

private:
    std::shared_ptr<PromiseResult> m_result;
    std::shared_ptr<FilePromiseReceiver> m_receiver;
    std::shared_ptr<PromiseDirectory> m_directory;
    std::shared_ptr<SerialQueue> m_queue;
};

} // namespace vennimo
