#pragma once

#include <cstdint>

// What a failure means to the code that meets it. Callers decide by the kind
// (and, where one failure matters on its own, by its code), never by the
// text: texts may be reworded, codes and kinds may not change meaning.
enum class FailureKind : uint8_t {
    Failed,        // none of the kinds below
    Refused,       // an input this version does not take, named with the reason
    Unreadable,    // an input file could not be opened or read
    Output,        // a file could not be written, or memory ran out
    Damaged,       // stored data is not what was written
    NotFound,      // no entry of the name asked for
    NotAnArchive,  // the file is not an archive
    Newer,         // written by a newer version than this one
    Busy,          // another program is changing the archive
    Stopped,       // the user asked to stop
};

// Which file a report names: the item in hand (a LAS file, an entry) or the
// archive it goes to or comes from.
enum class FailureSubject : uint8_t { Item, Archive };

// One failure of a layer's table. Codes are unique over all layers (each
// layer has its own hundred: LAS 1xx, engine 2xx, archive 3xx, tools and
// tests 9xx); 0 is no failure. The text is a literal, so a
// Failure can be copied into an exception that must not allocate.
struct Failure {
    uint16_t code = 0;
    FailureKind kind = FailureKind::Failed;
    FailureSubject subject = FailureSubject::Item;
    const char* text = "";

    // Where a failure's text is shown or logged, it stands for its text.
    constexpr operator const char*() const noexcept { return text; }
    constexpr bool Is(const Failure& other) const noexcept { return code == other.code; }
};

namespace failures {
constexpr Failure Of(uint16_t code, FailureKind kind, const char* text) { return {code, kind, FailureSubject::Item, text}; }
// A failure that concerns the archive file rather than the item in hand.
constexpr Failure OfArchive(uint16_t code, FailureKind kind, const char* text) {
    return {code, kind, FailureSubject::Archive, text};
}
}  // namespace failures
