#include "site/utf8_decoder.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vexmor::site {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Charsets without shifts in which a byte below 0x80 is always that ASCII
// character (in the multi-byte ones a trail byte may be below 0x80, but
// only after a lead byte above it). Not ISO-2022-*, UTF-7, HZ or UTF-16,
// nor Shift_JIS, which reads 0x5C as the yen sign.
std::string UpperCase(const std::string& charset) {
    std::string name;
    for (const char c : charset) name += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return name;
}

bool KeepsAscii(const std::string& charset) {
    const std::string name = UpperCase(charset);
    static constexpr std::string_view kExact[] = {
        "UTF-8", "GB18030", "GBK", "GB2312", "BIG5", "BIG5-HKSCS", "EUC-JP", "EUC-KR", "MACINTOSH", "TIS-620",
        "CP874", "CP932", "CP936", "CP949", "CP950"};
    for (const std::string_view exact : kExact)
        if (name == exact) return true;
    static constexpr std::string_view kFamilies[] = {"CP125", "WINDOWS-125", "ISO-8859-", "KOI8-"};
    for (const std::string_view family : kFamilies)
        if (name.size() > family.size() && name.starts_with(family)) return true;
    return false;
}

bool NamesUtf8(const std::string& charset) {
    const std::string name = UpperCase(charset);
    return name == "UTF-8" || name == "UTF8";
}

// The length of the UTF-8 sequence at `at` (below U+110000, no surrogate,
// no overlong form), 0 for bytes that are none. `cut`: they are the start
// of one that `bytes` ends before.
std::size_t SequenceAt(std::string_view bytes, std::size_t at, bool& cut) {
    cut = false;
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;   // the second byte's bounds
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    else return 0;
    if (lead == 0xE0) low = 0xA0;        // overlong
    else if (lead == 0xED) high = 0x9F;  // surrogates
    else if (lead == 0xF0) low = 0x90;   // overlong
    else if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    for (std::size_t k = 1; k < length; ++k) {
        if (at + k >= bytes.size()) {
            cut = true;
            return 0;
        }
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if (k == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

Utf8Decoder::Utf8Decoder(const std::string& charset)
    : converter_(::iconv_open("UTF-8", charset.empty() ? "UTF-8" : charset.c_str())) {
    if (converter_ == reinterpret_cast<iconv_t>(-1)) {
        known_ = false;
        converter_ = ::iconv_open("UTF-8", "UTF-8");
    }
    asciiAsItIs_ = KeepsAscii(known_ && !charset.empty() ? charset : std::string("UTF-8"));
    utf8_ = !known_ || charset.empty() || NamesUtf8(charset);
}

Utf8Decoder::~Utf8Decoder() {
    if (converter_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(converter_);
}

void Utf8Decoder::Feed(std::string_view bytes, std::string& out) {
    pending_.append(bytes);
    Convert(false, out);
}

void Utf8Decoder::Finish(std::string& out) { Convert(true, out); }

void Utf8Decoder::Convert(bool last, std::string& out) {
    // Contents files and pages are mostly ASCII; iconv takes far longer
    // over them than a look. What waits in pending_ (a lead byte) counts.
    if (converter_ == reinterpret_cast<iconv_t>(-1) || (asciiAsItIs_ && IsAscii(pending_))) {
        out += pending_;
        pending_.clear();
        return;
    }
    if (utf8_) {
        // Checked here: glibc's iconv lets sequences past U+10FFFF (lead
        // bytes F5 to F7) through from UTF-8 to UTF-8.
        std::size_t at = 0;
        while (at < pending_.size()) {
            bool cut = false;
            const std::size_t length = SequenceAt(pending_, at, cut);
            if (length > 0) {
                out.append(pending_, at, length);
                at += length;
                continue;
            }
            if (cut && !last) break;  // the rest comes with the next piece
            // One byte stands for what is no UTF-8.
            out += kReplacement;
            ++at;
        }
        pending_.erase(0, at);
        return;
    }
    char* in = pending_.data();
    std::size_t inLeft = pending_.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = ::iconv(converter_, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        if (errno == EINVAL && !last) break;  // a character cut by the end of this piece
        // Invalid here (or cut at the very end): one byte stands for it.
        out += kReplacement;
        ++in;
        --inLeft;
        ::iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    }
    pending_.erase(0, pending_.size() - inLeft);
}

std::string DecodeToUtf8(std::string_view bytes, const std::string& charset) {
    Utf8Decoder decoder(charset);
    std::string out;
    out.reserve(bytes.size());
    decoder.Feed(bytes, out);
    decoder.Finish(out);
    return out;
}

bool IsAscii(std::string_view bytes) {
    std::size_t i = 0;
    for (std::uint64_t word = 0; bytes.size() - i >= sizeof word; i += sizeof word) {
        std::memcpy(&word, bytes.data() + i, sizeof word);
        if ((word & 0x8080808080808080ull) != 0) return false;
    }
    for (; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
    return true;
}

bool IsUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            // Most pages are ASCII throughout: eight bytes at a time.
            std::uint64_t word = 0;
            while (n - i >= sizeof word) {
                std::memcpy(&word, bytes.data() + i, sizeof word);
                if ((word & 0x8080808080808080ull) != 0) break;
                i += sizeof word;
            }
            continue;
        }
        bool cut = false;
        const std::size_t length = SequenceAt(bytes, i, cut);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace vexmor::site
