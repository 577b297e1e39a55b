#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

namespace vennimo::test {

// While it lives, the durable-write calls of the process (DurableCalls) go to the system as
// usual and are written down in order: "file fsync", "folder fsync", "rename",
// "rename no-replace", "link". A call named in `failing` fails with EIO instead.
class DurableCallLog {
public:
    explicit DurableCallLog(QString failing = {});
    ~DurableCallLog();
    DurableCallLog(const DurableCallLog&) = delete;
    DurableCallLog& operator=(const DurableCallLog&) = delete;

    QStringList calls() const;
    // The calls joined with ", ", for one comparison that shows the whole order when it fails.
    std::string joined() const { return calls().join(QStringLiteral(", ")).toStdString(); }

private:
    int note(const QString& call, int result);

    QString m_failing;
    mutable std::mutex m_mutex;
    QStringList m_calls;
};

} // namespace vennimo::test
