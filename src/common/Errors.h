#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ostrel {

// Base of every error this program raises itself. Each kind knows the type name
// that the guard pass writes into its error line (" EDatabaseError:...").
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    virtual const char* typeName() const noexcept { return "Exception"; }
};

#define OSTREL_ERROR_KIND(Kind)                                                                                        \
    class Kind : public Error {                                                                                        \
    public:                                                                                                            \
        using Error::Error;                                                                                            \
        const char* typeName() const noexcept override { return #Kind; }                                               \
    }

// A text that must hold a whole number does not.
OSTREL_ERROR_KIND(EConvertError);
// A 32-bit block number or block length overflowed.
OSTREL_ERROR_KIND(EIntOverflow);
// A socket could not be created, bound or put to listening.
OSTREL_ERROR_KIND(ESocketError);
// A file or folder could not be read or written.
OSTREL_ERROR_KIND(EInOutError);
// A call of the operating system failed (a program could not be started, a service not registered).
OSTREL_ERROR_KIND(EOSError);
// A table prefix or another identifier that would not be a plain SQL identifier.
OSTREL_ERROR_KIND(EInvalidIdentifier);

#undef OSTREL_ERROR_KIND

// The database server refused a connection or a statement.
class EDatabaseError : public Error {
public:
    explicit EDatabaseError(const std::string& message, unsigned serverError = 0)
        : Error(message), m_serverError(serverError) {}
    const char* typeName() const noexcept override { return "EDatabaseError"; }
    // The error number of the server or client (1213 for a deadlock, ...); 0 when there is none.
    unsigned serverError() const noexcept { return m_serverError; }

private:
    unsigned m_serverError;
};

// An error of the event source's automation interface: a message and a 32-bit code.
class EOleException : public Error {
public:
    EOleException(const std::string& message, std::int32_t code) : Error(message), m_code(code) {}
    const char* typeName() const noexcept override { return "EOleException"; }
    std::int32_t code() const noexcept { return m_code; }

private:
    std::int32_t m_code;
};

// The type name shown for any exception, ours or the standard library's.
const char* errorTypeName(const std::exception& error) noexcept;

} // namespace ostrel
