#pragma once

#include <QString>

namespace vennimo {

// One error value for the whole system: an area's domain ("Vennimo.Exhibition", ...), a small
// code and the Chinese message shown to the user. System errors keep their errno.
struct Error {
    QString domain;
    int code = 0;
    QString message;
    QString failureReason;
    QString recoverySuggestion;
    int sysErrno = 0;

    const QString& localizedDescription() const { return message; }
    bool isFileExists() const;
    bool operator==(const Error&) const = default;

    // The shape every store builds its errors in.
    static Error make(const QString& domain, int code, const QString& message);
    // "Vennimo.Exhibition" code 1: the error the exhibition and several subsystems throw as is.
    static Error failure(const QString& message);
    // A file-system error: domain "POSIX", code errno, a Chinese message; `path` names the item
    // in the failure reason.
    static Error fromErrno(int err, const QString& path = {});
};

inline constexpr auto kPosixErrorDomain = "POSIX";
inline constexpr auto kExhibitionErrorDomain = "Vennimo.Exhibition";

// Chinese text for the errno values users meet; a generic text with the number otherwise.
QString errnoMessage(int err);

} // namespace vennimo
