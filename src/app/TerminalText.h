#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Names come from file systems and from archives, which anyone may have
// written: before one is printed on a terminal whatever could steer it (an
// escape sequence could rewrite the screen) is shown as an escape, the way
// EscapeName in the archive layer shows entry names everywhere.
std::string TerminalSafe(const std::string& text);

// Columns a UTF-8 text takes, one per character.
std::size_t ColumnsOf(const std::string& text);

// The text cut to at most `columns` columns: its head and its tail around
// climsg::kCut, never splitting a UTF-8 character. Unchanged when it fits.
std::string CutToColumns(const std::string& text, std::size_t columns);

// The first `columns` characters of a UTF-8 text.
std::string HeadOfColumns(const std::string& text, std::size_t columns);

// "1234567" -> "1,234,567".
std::string GroupDigits(uint64_t value);
