#pragma once

#include "dragdrop/FilePromiseReceiver.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <memory>

class QMimeData;

namespace vennimo {

// The receiving side of the X Direct Save protocol: we tell the drag source where to write its
// file (a name of our own choosing inside the drop's private folder), ask it to do so through the
// drop's selection, and read its answer: "S" wrote the file, "F" asks us to use other data, "E"
// failed. The exchange has to happen inside the drop handler, before the drop is finished.
class XdsPromiseReceiver : public FilePromiseReceiver {
public:
    static constexpr int kMaxNameBytes = 200;

    // Nothing unless the application runs on X11 and the drop's source offers a suggested name.
    // With a deadline, the source's answer is not waited for beyond it.
    static std::shared_ptr<XdsPromiseReceiver>
    forCurrentDrop(const QMimeData& data, QDeadlineTimer deadline = QDeadlineTimer::Forever);

    QStringList fileNames() const override { return {m_name}; }
    void receive(const QString& directory, Reader reader) override;

    // A plain file name made of the source's suggestion: no folders, no hidden or empty names.
    static QString safeFileName(const QByteArray& suggested);

private:
    XdsPromiseReceiver(const QMimeData& data, quint32 window, QString name, QDeadlineTimer deadline)
        : m_data(&data)
        , m_window(window)
        , m_name(std::move(name))
        , m_deadline(deadline) {}

    // The source's answer: "S", "F" or "E", or nothing when it did not come.
    QByteArray answer();

    const QMimeData* m_data;
    quint32 m_window;
    QString m_name;
    QDeadlineTimer m_deadline;
};

} // namespace vennimo
