#include "archive/EntryNames.h"

#include <cstdint>

#include "archive/ArchiveMessages.h"
#include "las/FileIo.h"

namespace {

constexpr std::size_t kNameField = 256;

bool IsC0OrDel(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The length of the UTF-8 sequence at text[at] and its code point; 0 when the
// bytes there are no well-formed sequence (overlong forms, surrogates and
// values past U+10FFFF included).
std::size_t DecodeUtf8(const std::string& text, std::size_t at, uint32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char c = byte(k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return length;
}

bool IsC1(uint32_t cp) { return cp >= 0x80 && cp <= 0x9F; }

// Characters that change the order in which the text after them is shown.
bool IsBidiControl(uint32_t cp) {
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

bool HoldsControl(const std::string& name) {
    for (std::size_t at = 0; at < name.size(); ++at) {
        const auto c = static_cast<unsigned char>(name[at]);
        if (IsC0OrDel(c)) return true;
        uint32_t cp = 0;
        if (c == 0xC2 && DecodeUtf8(name, at, cp) == 2 && IsC1(cp)) return true;
    }
    return false;
}

}  // namespace

bool IsPlainEntryName(const std::string& name) {
    if (name.empty() || name.size() >= kNameField) return false;
    if (name == "." || name == "..") return false;
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

const Failure* WhyNotExtractable(const std::string& name) {
    if (!IsPlainEntryName(name)) return &archmsg::kUnsafeEntryName;
    if (HoldsControl(name)) return &archmsg::kNameHasControl;
    if (name.front() == '.') return &archmsg::kNameHidden;
    static const std::string kSuffix = ".las";
    if (name.size() < kSuffix.size() || LowerAscii(name.substr(name.size() - kSuffix.size())) != kSuffix) {
        return &archmsg::kNameNotLas;
    }
    return nullptr;
}

std::string EscapeName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const auto c = static_cast<unsigned char>(name[at]);
        if (c < 0x80) {
            if (IsC0OrDel(c)) {
                AppendHex(out, "\\x", c, 2);
            } else {
                if (c == '\\') out += '\\';
                out += static_cast<char>(c);
            }
            ++at;
            continue;
        }
        uint32_t cp = 0;
        const std::size_t length = DecodeUtf8(name, at, cp);
        if (length == 0) {
            // One byte at a time: the next may begin a good sequence.
            AppendHex(out, "\\x", c, 2);
            ++at;
        } else if (IsC1(cp) || IsBidiControl(cp)) {
            AppendHex(out, "\\u", cp, 4);
            at += length;
        } else {
            out.append(name, at, length);
            at += length;
        }
    }
    return out;
}
