#pragma once

#include "platform/Result.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace vennimo {

// The receiving side of one file promise of a drop: the source writes its files only after the
// drop, into a folder we choose.
class FilePromiseReceiver {
public:
    // Called once per promised file, from any thread, with the path the source reports (or why it
    // could not deliver).
    using Reader = std::function<void(vennimo::Result<QString>)>;

    virtual ~FilePromiseReceiver();
    // The names the source announces; may be empty.
    virtual QStringList fileNames() const = 0;
    // Asks the source to write its files into `directory`. Called on the main thread inside the
    // drop, where some protocols must finish their exchange.
    virtual void receive(const QString& directory, Reader reader) = 0;
};

} // namespace vennimo
