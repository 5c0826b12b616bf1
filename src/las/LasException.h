#pragma once

#include <exception>
#include <string>

// The one exception type of the core. The message is always a fixed literal
// (never owned, never built at run time), so throwing can never fail and the
// user interface can compare against the named constants.
class CLasException : public std::exception {
public:
    explicit CLasException(const char* message, bool canContinue = false, int cause = 0) noexcept
        : text(message), canContinue(canContinue), cause(cause) {}
    ~CLasException() override = default;

    const char* what() const noexcept override { return text; }
    virtual const char* Message() const noexcept { return text; }

private:
    const char* text;

public:
    // True only where one input file is refused and a batch may go on with
    // the next one.
    bool canContinue;
    // The system's error number behind a failed read or write (0 when there
    // is none), so the user learns why in their own terms ("No space left on
    // device") next to the fixed message.
    int cause;
};

// The system's text for a cause, or "" for none.
const char* CauseText(int cause);
// The message, followed by the cause in parentheses when there is one.
std::string DescribeFailure(const CLasException& e);

// Raised by the engine when a stop was requested. It derives from
// CLasException so code that only knows the base still unwinds cleanly, and
// it is a type of its own so the archive code can tell a stop from a failure.
class CStopRequested : public CLasException {
public:
    CStopRequested() noexcept;
};
