#pragma once

#include <exception>
#include <string>

#include "las/Failure.h"

// The one exception type of the core. It carries one failure of a layer's
// table: its text is a fixed literal (never owned, never built at run time),
// so throwing can never fail, and its code and kind say what it means.
class CLasException : public std::exception {
public:
    explicit CLasException(const Failure& failure, bool canContinue = false, int cause = 0) noexcept
        : failure(failure), canContinue(canContinue), cause(cause) {}
    ~CLasException() override = default;

    const char* what() const noexcept override { return failure.text; }
    virtual const char* Message() const noexcept { return failure.text; }
    const Failure& What() const noexcept { return failure; }
    FailureKind Kind() const noexcept { return failure.kind; }
    bool Is(const Failure& other) const noexcept { return failure.Is(other); }

private:
    Failure failure;

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
