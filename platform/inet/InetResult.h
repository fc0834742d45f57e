#pragma once
// Outcome of an internet call: a value, or an error with a code and a text
// a user can read ("Could not resolve host: nosuch.invalid").
//
// Thread: any (plain values).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace inet {

enum class ErrorCode : std::uint8_t {
    InitFailed,  // the client library could not be started
    BadUrl,      // malformed URL or a protocol the client does not speak
    Connect,     // the name did not resolve or the connection was refused
    HttpStatus,  // the server answered with a status of 400 or more
    Timeout,     // the connect or idle time limit ran out
    Transfer,    // the transfer broke off or the peer broke the protocol
    Interrupted, // a wait was ended by a stop request or Wake()
};

[[nodiscard]] std::string_view to_string(ErrorCode code);

struct Error {
    ErrorCode code = ErrorCode::Transfer;
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) { }
    Result(Error error) : m_value(std::move(error)) { }

    [[nodiscard]] bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }
    // Only when ok().
    T& value() & { return std::get<0>(m_value); }
    const T& value() const& { return std::get<0>(m_value); }
    T&& value() && { return std::get<0>(std::move(m_value)); }
    // Only when !ok().
    const Error& error() const { return std::get<1>(m_value); }

private:
    std::variant<T, Error> m_value;
};

// Success without a value.
struct Done { };
using Status = Result<Done>;

} // namespace inet
