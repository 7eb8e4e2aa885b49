// Text of a help file in its code page, turned into UTF-8 piece by piece.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace vexmor::site {

// Converts bytes of one charset to UTF-8 as they arrive. A byte sequence
// that is not valid in the charset becomes U+FFFD and the conversion goes on
// with the next byte, so a damaged text never stops the reading.
class Utf8Decoder {
public:
    // `charset` is an iconv name; an unknown one is taken for UTF-8.
    explicit Utf8Decoder(const std::string& charset);
    ~Utf8Decoder();
    Utf8Decoder(const Utf8Decoder&) = delete;
    Utf8Decoder& operator=(const Utf8Decoder&) = delete;

    // Appends the UTF-8 of `bytes` to `out`; a character cut by the end of
    // `bytes` waits for the next call.
    void Feed(std::string_view bytes, std::string& out);
    // Ends the text: a character left incomplete becomes U+FFFD.
    void Finish(std::string& out);

    // Whether iconv knows the charset asked for (else UTF-8 is read).
    bool Known() const { return known_; }

private:
    void Convert(bool last, std::string& out);

    iconv_t converter_;
    bool known_ = true;
    bool asciiAsItIs_ = false;  // ASCII goes through without iconv
    bool utf8_ = false;         // UTF-8 read: checked here, not by iconv
    std::string pending_;  // bytes not yet converted
};

// The whole of `bytes` in `charset` as UTF-8 (see Utf8Decoder).
std::string DecodeToUtf8(std::string_view bytes, const std::string& charset);

// True when every byte is below 0x80.
bool IsAscii(std::string_view bytes);

// True when `bytes` is well-formed UTF-8.
bool IsUtf8(std::string_view bytes);

}  // namespace vexmor::site
