#include "app/TerminalText.h"

#include <cstring>

#include "app/CommandLineMessages.h"
#include "velmora/velmora.hpp"

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset where the first `columns` characters of text end.
std::size_t BytesOfHead(const std::string& text, std::size_t columns) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (IsContinuation(static_cast<unsigned char>(text[at]))) continue;
        if (seen++ == columns) break;
    }
    return at;
}

// Byte offset where the last `columns` characters of text begin.
std::size_t StartOfTail(const std::string& text, std::size_t columns) {
    std::size_t at = text.size();
    for (std::size_t seen = 0; at > 0 && seen < columns;) {
        --at;
        if (!IsContinuation(static_cast<unsigned char>(text[at]))) ++seen;
    }
    return at;
}

}  // namespace

std::string TerminalSafe(const std::string& text) { return velmora::EscapeName(text); }

std::size_t ColumnsOf(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) {
        if (!IsContinuation(static_cast<unsigned char>(c))) ++n;
    }
    return n;
}

std::string HeadOfColumns(const std::string& text, std::size_t columns) {
    return text.substr(0, BytesOfHead(text, columns));
}

std::string CutToColumns(const std::string& text, std::size_t columns) {
    if (ColumnsOf(text) <= columns) return text;
    const std::size_t cut = std::strlen(climsg::kCut);
    // Too narrow for a head, the mark and a tail: the head alone.
    if (columns < cut + 2) return HeadOfColumns(text, columns);
    const std::size_t room = columns - cut;
    const std::size_t head = room / 2;
    return text.substr(0, BytesOfHead(text, head)) + climsg::kCut +
           text.substr(StartOfTail(text, room - head));
}

std::string GroupDigits(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        // A comma before every group of three counted from the right.
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}
