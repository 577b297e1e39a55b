#pragma once

#include <QString>

namespace vennimo {

// Named events of rope drags for diagnosing them afterwards: each event is one signpost event
// and one info line "<name> <detail>" in "com.tavrun.vennimo-gallery.rope-diagnostic". Names
// are constant strings; only the detail (space-separated key=value pairs) is built per call.
class RopeDiagnostic {
public:
    RopeDiagnostic() = delete;

    static void event(const char* name, const QString& detail);
    // A coordinate or fraction as details write it: the shortest form that reads back, with ".0"
    // on whole numbers.
    static QString number(double value);
};

} // namespace vennimo
