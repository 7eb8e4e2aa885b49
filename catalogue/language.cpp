#include "catalogue/language.h"

#include <iconv.h>

#include <array>
#include <cerrno>

namespace vexmor {

namespace {

struct LanguageRow {
    std::uint32_t id;
    Language language;
};

constexpr std::array kLanguages{
    LanguageRow{0x0401, {"Arabic (Saudi Arabia)", "CP1256", "windows-1256", "ar-SA"}},
    LanguageRow{0x0404, {"Chinese (Traditional, Taiwan)", "BIG5", "big5", "zh-TW"}},
    LanguageRow{0x0405, {"Czech", "CP1250", "windows-1250", "cs-CZ"}},
    LanguageRow{0x0406, {"Danish", "CP1252", "windows-1252", "da-DK"}},
    LanguageRow{0x0407, {"German (Germany)", "CP1252", "windows-1252", "de-DE"}},
    LanguageRow{0x0408, {"Greek", "CP1253", "windows-1253", "el-GR"}},
    LanguageRow{0x0409, {"English (United States)", "CP1252", "windows-1252", "en-US"}},
    LanguageRow{0x040A, {"Spanish (Spain, traditional sort)", "CP1252", "windows-1252", "es-ES"}},
    LanguageRow{0x040B, {"Finnish", "CP1252", "windows-1252", "fi-FI"}},
    LanguageRow{0x040C, {"French (France)", "CP1252", "windows-1252", "fr-FR"}},
    LanguageRow{0x040D, {"Hebrew", "CP1255", "windows-1255", "he-IL"}},
    LanguageRow{0x040E, {"Hungarian", "CP1250", "windows-1250", "hu-HU"}},
    LanguageRow{0x0410, {"Italian (Italy)", "CP1252", "windows-1252", "it-IT"}},
    LanguageRow{0x0411, {"Japanese", "CP932", "shift_jis", "ja-JP"}},
    LanguageRow{0x0412, {"Korean", "CP949", "euc-kr", "ko-KR"}},
    LanguageRow{0x0413, {"Dutch (Netherlands)", "CP1252", "windows-1252", "nl-NL"}},
    LanguageRow{0x0414, {"Norwegian (Bokmal)", "CP1252", "windows-1252", "nb-NO"}},
    LanguageRow{0x0415, {"Polish", "CP1250", "windows-1250", "pl-PL"}},
    LanguageRow{0x0416, {"Portuguese (Brazil)", "CP1252", "windows-1252", "pt-BR"}},
    LanguageRow{0x0419, {"Russian", "CP1251", "windows-1251", "ru-RU"}},
    LanguageRow{0x041D, {"Swedish", "CP1252", "windows-1252", "sv-SE"}},
    LanguageRow{0x041E, {"Thai", "CP874", "windows-874", "th-TH"}},
    LanguageRow{0x041F, {"Turkish", "CP1254", "windows-1254", "tr-TR"}},
    LanguageRow{0x0422, {"Ukrainian", "CP1251", "windows-1251", "uk-UA"}},
    LanguageRow{0x042A, {"Vietnamese", "CP1258", "windows-1258", "vi-VN"}},
    LanguageRow{0x0804, {"Chinese (Simplified, China)", "GBK", "gbk", "zh-CN"}},
    LanguageRow{0x0809, {"English (United Kingdom)", "CP1252", "windows-1252", "en-GB"}},
    LanguageRow{0x0816, {"Portuguese (Portugal)", "CP1252", "windows-1252", "pt-PT"}},
    LanguageRow{0x0C04, {"Chinese (Traditional, Hong Kong)", "BIG5-HKSCS", "big5", "zh-HK"}},
    LanguageRow{0x0C0A, {"Spanish (Spain)", "CP1252", "windows-1252", "es-ES"}},
};

}  // namespace

Language LanguageOf(std::uint32_t languageId) {
    for (const LanguageRow& row : kLanguages)
        if (row.id == languageId) return row.language;
    return {nullptr, nullptr, nullptr};
}

std::string ToUtf8(const std::string& text, const char* charset) {
    if (charset == nullptr || text.empty()) return text;
    const iconv_t converter = ::iconv_open("UTF-8", charset);
    if (converter == reinterpret_cast<iconv_t>(-1)) return text;
    // Four bytes of UTF-8 at most for each byte of a code page.
    std::string out(text.size() * 4, '\0');
    std::string in = text;
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = ::iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) return text;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace vexmor
