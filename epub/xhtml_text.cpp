#include "epub/xhtml_text.h"

#include <array>
#include <cstdint>

namespace vexmor::epub {

namespace {

// The code point at `at` and its length; length 0 for bytes that are no UTF-8.
std::size_t Decode(std::string_view text, std::size_t at, std::uint32_t& value) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (byte < 0x80) {
        value = byte;
        return 1;
    }
    if (byte >= 0xC2 && byte <= 0xDF) length = 2, value = byte & 0x1Fu;
    else if (byte >= 0xE0 && byte <= 0xEF) length = 3, value = byte & 0x0Fu;
    else if (byte >= 0xF0 && byte <= 0xF4) length = 4, value = byte & 0x07u;
    else return 0;
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

// The bytes that stand for themselves in XML text and attributes.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c) plain[static_cast<std::size_t>(c)] = c != '&' && c != '<' && c != '>' && c != '"';
    return plain;
}();

}  // namespace

void AppendXmlText(std::string& out, std::string_view text, bool attribute) {
    // Bytes that stand for themselves go in runs, not one by one.
    const auto plain = [](char c) { return kPlain[static_cast<unsigned char>(c)]; };
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (plain(c)) {
            std::size_t end = at + 1;
            while (end < text.size() && plain(text[end])) ++end;
            out.append(text.data() + at, end - at);
            at = end;
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x80) {
            ++at;
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"':
                    if (attribute) out += "&quot;";
                    else out += c;
                    break;
                case '\t':
                case '\n': out += c; break;
                case '\r': out += attribute ? ' ' : '\n'; break;
                default:
                    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
            }
            continue;
        }
        std::uint32_t value = 0;
        const std::size_t length = Decode(text, at, value);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        const bool refused = (value >= 0x80 && value <= 0x9F) || (value >= 0xFDD0 && value <= 0xFDEF) ||
                             (value & 0xFFFE) == 0xFFFE;
        if (!refused) out.append(text.substr(at, length));
        at += length;
    }
}

std::string XmlText(std::string_view text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    AppendXmlText(out, text, attribute);
    return out;
}

}  // namespace vexmor::epub
