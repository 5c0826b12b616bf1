#pragma once

#include <exception>

// The one exception type of the core. The message is always a fixed literal
// (never owned, never built at run time), so throwing can never fail and the
// user interface can compare against the named constants.
class CLasException : public std::exception {
public:
    explicit CLasException(const char* message, bool canContinue = false) noexcept
        : message_(message), canContinue(canContinue) {}
    ~CLasException() override = default;

    const char* what() const noexcept override { return message_; }
    virtual const char* Message() const noexcept { return message_; }

private:
    const char* message_;

public:
    // True only where one input file is refused and a batch may go on with
    // the next one.
    bool canContinue;
};

// Raised by the engine when a stop was requested. It derives from
// CLasException so code that only knows the base still unwinds cleanly, and
// it is a type of its own so the archive code can tell a stop from a failure.
class CStopRequested : public CLasException {
public:
    CStopRequested() noexcept;
};
