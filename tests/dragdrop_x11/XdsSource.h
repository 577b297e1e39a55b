#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <atomic>
#include <thread>

namespace vennimo::test {

// A drag source of the test's own on a separate X connection: it drags data with an X Direct Save
// promise onto a window and answers the target's requests the way a real source does. With
// `writeFile` it writes the promised file where the target asked and answers "S"; otherwise it
// answers "F" as browsers do.
class XdsSource {
public:
    struct Script {
        QByteArray suggestedName;
        bool writeFile = true;
        QByteArray fileBytes;
        QMap<QByteArray, QByteArray> offers; // further types and their data
    };

    explicit XdsSource(Script script);
    ~XdsSource();

    // Drags onto the X window at the root position and drops; returns at once.
    void start(quint32 targetWindow, int rootX, int rootY);
    bool finished() const { return m_finished.load(); }
    // The file URI the target asked for, as written into the property.
    QByteArray requestedUri() const;

private:
    void run(quint32 target, int x, int y);

    Script m_script;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QByteArray m_requestedUri;
};

} // namespace vennimo::test
