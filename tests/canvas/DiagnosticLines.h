#pragma once

#include "platform/Logging.h"

#include <QByteArray>
#include <QStringList>

namespace vennimo::test {

// Collects the rope diagnostic lines written while it lives, whether or not the category is on
// by default: it turns the category's info lines on and gives it back its state afterwards.
class DiagnosticLines {
public:
    DiagnosticLines()
        : m_wasOn(lcRopeDiagnostic().isInfoEnabled()) {
        category().setEnabled(QtInfoMsg, true);
        s_current = this;
        m_previous = qInstallMessageHandler(&DiagnosticLines::handle);
    }
    ~DiagnosticLines() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
        category().setEnabled(QtInfoMsg, m_wasOn);
    }
    DiagnosticLines(const DiagnosticLines&) = delete;
    DiagnosticLines& operator=(const DiagnosticLines&) = delete;

    // The details of the events with this name, in order.
    QStringList details(const QString& name) const {
        QStringList found;
        const QString prefix = name + QLatin1Char(' ');
        for (const QString& line : m_lines)
            if (line.startsWith(prefix))
                found.append(line.mid(prefix.size()));
        return found;
    }
    const QStringList& lines() const { return m_lines; }

private:
    // The category object itself: switching it is what a logging rule would do.
    static QLoggingCategory& category() { return const_cast<QLoggingCategory&>(lcRopeDiagnostic()); }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (s_current && context.category &&
            QByteArray(context.category) == QByteArray(lcRopeDiagnostic().categoryName())) {
            s_current->m_lines.append(message);
            return;
        }
        if (s_current && s_current->m_previous)
            s_current->m_previous(type, context, message);
    }

    inline static DiagnosticLines* s_current = nullptr;
    bool m_wasOn = false;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};

} // namespace vennimo::test
