#pragma once

#include <QElapsedTimer>
#include <QLoggingCategory>

namespace vennimo {

// Categories named after the logging subsystems of the application.
Q_DECLARE_LOGGING_CATEGORY(lcApp)            // "com.tavrun.vennimo-gallery"
Q_DECLARE_LOGGING_CATEGORY(lcRopeDiagnostic) // "com.tavrun.vennimo-gallery.rope-diagnostic"
Q_DECLARE_LOGGING_CATEGORY(lcSignpost)       // "com.tavrun.vennimo-gallery.signpost"

// Rope diagnostics stay quiet by default. VENNIMO_ROPE_DIAGNOSTICS=1 in the environment turns
// them on (applyDiagnosticSwitch, at start-up), as does the rule
// "com.tavrun.vennimo-gallery.rope-diagnostic.info=true" in QT_LOGGING_RULES; tests that read
// the lines call enableRopeDiagnostics().
void applyDiagnosticSwitch();
void enableRopeDiagnostics();

// An interval of interest ("DeferredStateWrite", "PaperRender", ...): logs its name and how long
// it took when it ends. Cheap when the signpost category is off.
class Signpost {
public:
    explicit Signpost(const char* name);
    ~Signpost();
    Signpost(const Signpost&) = delete;
    Signpost& operator=(const Signpost&) = delete;

    // A single event without duration.
    static void event(const char* name);

private:
    const char* m_name;
    QElapsedTimer m_timer;
};

} // namespace vennimo
