#pragma once

#include <string>

#include "las/Failure.h"

// Entry names are bytes from archives that anyone may have written. Whether
// one may become a file, and how one is shown as text, is decided here and
// nowhere else.

// Not empty, shorter than the 256-byte name field, without '/', '\' or NUL,
// and not "." or "..": a name that cannot lead out of the folder it is
// extracted into.
bool IsPlainEntryName(const std::string& name);

// Why an entry may not be written to disk under its name (a failure of the archive layer),
// or null when it may: a plain name that ends in ".las" in any case, does not
// begin with a dot and holds no control character (C0, DEL, or C1 encoded as
// UTF-8). Anything else could be a shell's start-up file, a build file, or an
// archive or journal beside the one being read.
const Failure* WhyNotExtractable(const std::string& name);
inline bool IsExtractableName(const std::string& name) { return WhyNotExtractable(name) == nullptr; }

// The name as text that shows what it holds and cannot steer a terminal or
// reorder what follows it: control characters (C0, DEL, C1) and bytes that are
// not UTF-8 become "\xNN", C1 controls and the bidirectional embeddings,
// overrides and isolates (U+202A-U+202E, U+2066-U+2069) "\uNNNN", and a
// backslash "\\", so that every escape reads one way only. Other UTF-8 passes.
std::string EscapeName(const std::string& name);
