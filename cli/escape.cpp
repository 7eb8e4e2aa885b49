#include "cli/escape.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstdio>

namespace vexmor::cli {

namespace {

// One character of `text` at `pos`: its code point and length in bytes, or
// length 1 and kInvalid for a byte that starts no valid UTF-8 sequence
// (overlong forms, surrogates and values past U+10FFFF included).
constexpr std::uint32_t kInvalid = UINT32_MAX;

struct Character {
    std::uint32_t code;
    std::size_t length;
};

Character NextCharacter(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u, least = 0x10000;
    } else {
        return {kInvalid, 1};
    }
    if (text.size() - pos < length) return {kInvalid, 1};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return {kInvalid, 1};
        code = code << 6 | (byte(i) & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {kInvalid, 1};
    return {code, length};
}

struct CodeRange {
    std::uint32_t first;
    std::uint32_t last;
};

// The format characters (general category Cf) of Unicode 15: invisible,
// and many of them reorder or hide the text around them.
constexpr CodeRange kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool IsFormatCharacter(std::uint32_t code) {
    const auto end = std::end(kFormatCharacters);
    const auto range = std::lower_bound(std::begin(kFormatCharacters), end, code,
                                        [](const CodeRange& r, std::uint32_t c) { return r.last < c; });
    return range != end && range->first <= code;
}

// Controls, the line and paragraph separators, and the format characters.
bool MovesTheTerminal(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029 ||
           IsFormatCharacter(code);
}

// The short escapes both forms share; nullptr for any other character.
const char* ShortEscape(std::uint32_t code) {
    switch (code) {
        case '\\': return "\\\\";
        case '\n': return "\\n";
        case '\t': return "\\t";
        case '\r': return "\\r";
        default: return nullptr;
    }
}

void AppendOctal(std::string& out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\%03o", static_cast<unsigned>(byte));
    out += text;
}

}  // namespace

std::string EscapeForLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Character c = NextCharacter(text, pos);
        if (const char* escape = ShortEscape(c.code)) {
            out += escape;
        } else if (c.code == kInvalid || MovesTheTerminal(c.code)) {
            for (std::size_t i = 0; i < c.length; ++i) AppendOctal(out, static_cast<unsigned char>(text[pos + i]));
        } else {
            out.append(text, pos, c.length);
        }
        pos += c.length;
    }
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    char hex[16];
    for (std::size_t pos = 0; pos < text.size();) {
        const Character c = NextCharacter(text, pos);
        if (c.code == '"') {
            out += "\\\"";
        } else if (const char* escape = ShortEscape(c.code)) {
            out += escape;
        } else if (c.code == kInvalid) {
            // JSON holds text, not bytes: a byte that is no UTF-8 becomes the
            // replacement character rather than a character it never was.
            out += "\\ufffd";
        } else if (MovesTheTerminal(c.code)) {
            // Past U+FFFF as a surrogate pair: JSON's escapes hold 16 bits.
            if (c.code > 0xFFFF) {
                const std::uint32_t rest = c.code - 0x10000;
                std::snprintf(hex, sizeof hex, "\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (rest >> 10)),
                              static_cast<unsigned>(0xDC00 + (rest & 0x3FF)));
            } else {
                std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c.code));
            }
            out += hex;
        } else {
            out.append(text, pos, c.length);
        }
        pos += c.length;
    }
    out += '"';
    return out;
}

}  // namespace vexmor::cli
