#pragma once

#include "platform/Error.h"

#include <optional>
#include <utility>
#include <variant>

namespace vennimo {

// A value or the error that prevented it; the project's stand-in for C++23 std::expected.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value)
        : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(Error error)
        : m_v(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T valueOr(T fallback) const { return ok() ? value() : std::move(fallback); }
    const Error& error() const { return std::get<1>(m_v); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

private:
    std::variant<T, Error> m_v;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

using Status = Result<void>;

} // namespace vennimo
