#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/byte_total.h"
#include "catalogue/help_file_facts.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "catalogue/language.h"
#include "cli/output.h"

namespace vexmor::cli {

namespace {

// The #SYSTEM facts as printed: texts converted to UTF-8, the time as
// ISO 8601 UTC; nullopt for what the file does not hold.
struct Shown {
    std::optional<std::string> title, defaultTopic, defaultWindow, contentsFile, indexFile, compiler, compiled;
    std::optional<std::uint32_t> languageId;
    std::optional<std::string> languageName;
};

std::string IsoTime(std::int64_t unixTime) {
    const auto t = static_cast<std::time_t>(unixTime);
    std::tm fields{};
    if (::gmtime_r(&t, &fields) == nullptr) return {};
    char text[64];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields) > 0 ? text : std::string();
}

Shown Present(const HelpFileFacts& facts) {
    Shown shown;
    if (!facts.system) return shown;
    const SystemRecords& system = *facts.system;
    const char* charset = nullptr;
    if (system.languageId) {
        shown.languageId = system.languageId;
        const Language language = LanguageOf(*system.languageId);
        if (language.name) shown.languageName = language.name;
        charset = language.charset;
    }
    const auto text = [&](const std::optional<std::string>& raw) -> std::optional<std::string> {
        if (!raw) return std::nullopt;
        return ToUtf8(*raw, charset);
    };
    shown.title = text(system.title);
    shown.defaultTopic = text(system.defaultTopic);
    shown.defaultWindow = text(system.defaultWindow);
    shown.contentsFile = text(system.contentsFile);
    shown.indexFile = text(system.indexFile);
    shown.compiler = text(system.compiler);
    if (system.compiledFileTime) {
        if (const auto unixTime = UnixTimeOfFileTime(*system.compiledFileTime)) {
            const std::string iso = IsoTime(*unixTime);
            if (!iso.empty()) shown.compiled = iso;
        }
    }
    return shown;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// One fact as both forms show it: a labelled line of text (left out when
// the value is unknown) and a key of the JSON object (null when unknown).
struct Fact {
    enum class In { Both, TextOnly, JsonOnly };
    const char* label;
    const char* key;
    std::optional<std::string> text;
    std::optional<std::uint64_t> number;
    const char* unit = "";  // after a number in the text form
    In in = In::Both;
    std::optional<bool> flag = {};  // true or false in JSON
};

template <class T>
std::optional<std::uint64_t> Number(const std::optional<T>& value) {
    if (!value) return std::nullopt;
    return static_cast<std::uint64_t>(*value);
}

// `member` of `whole`, when `whole` is known.
template <class Whole, class T>
std::optional<std::uint64_t> Part(const std::optional<Whole>& whole, T Whole::*member) {
    if (!whole) return std::nullopt;
    return static_cast<std::uint64_t>((*whole).*member);
}

std::vector<Fact> FactsToShow(const std::string& file, const HelpFileFacts& facts, const Shown& shown) {
    using In = Fact::In;
    std::optional<std::string> language;
    if (shown.languageId) language = Hex(*shown.languageId) + (shown.languageName ? " " + *shown.languageName : "");
    const auto& section = facts.compressedSection;
    return {
        {"file", "file", file, {}},
        {"title", "title", shown.title, {}},
        {"default topic", "default_topic", shown.defaultTopic, {}},
        {"default window", "default_window", shown.defaultWindow, {}},
        {"contents file", "contents_file", shown.contentsFile, {}},
        {"index file", "index_file", shown.indexFile, {}},
        {"language", "language_id", {}, Number(shown.languageId), "", In::JsonOnly},
        {"language", "language", shown.languageName, {}, "", In::JsonOnly},
        {"language", "language", language, {}, "", In::TextOnly},
        {"compiler", "compiler", shown.compiler, {}},
        {"compiled", "compiled", shown.compiled, {}},
        {"streams", "streams", {}, facts.streams},
        {"stream bytes", "stream_bytes", ByteTotalText(facts.streamBytes), {}, "", In::TextOnly},
        {"stream bytes", "stream_bytes", {}, facts.streamBytes.value, "", In::JsonOnly},
        {"stream bytes", "stream_bytes_saturated", {}, {}, "", In::JsonOnly, facts.streamBytes.saturated},
        {"file bytes", "file_bytes", {}, facts.fileBytes},
        {"compressed section", "section_uncompressed_bytes", {},
         Part(section, &storage::CompressedSectionFacts::uncompressedLength), " bytes uncompressed"},
        {"compressed section", "section_compressed_bytes", {},
         Part(section, &storage::CompressedSectionFacts::compressedLength), " bytes compressed"},
        {"LZX window", "lzx_window_bytes", {}, Part(section, &storage::CompressedSectionFacts::windowSize), " bytes"},
        {"LZX reset interval", "lzx_reset_interval_bytes", {},
         Part(section, &storage::CompressedSectionFacts::resetInterval), " bytes"},
    };
}

std::string TextOf(const std::vector<Fact>& shown, const std::vector<std::string>& notes) {
    std::string text;
    for (const Fact& fact : shown) {
        if (fact.in == Fact::In::JsonOnly) continue;
        if (fact.text) text += std::string(fact.label) + ": " + EscapeForLine(*fact.text) + "\n";
        if (fact.number) text += std::string(fact.label) + ": " + std::to_string(*fact.number) + fact.unit + "\n";
    }
    for (const std::string& note : notes) text += "note: " + EscapeForLine(note) + "\n";
    return text;
}

std::string JsonOf(const std::vector<Fact>& shown, const std::vector<std::string>& notes) {
    std::string body;
    for (const Fact& fact : shown) {
        if (fact.in == Fact::In::TextOnly) continue;
        const std::string value = fact.text     ? JsonString(*fact.text)
                                  : fact.number ? std::to_string(*fact.number)
                                  : fact.flag   ? std::string(*fact.flag ? "true" : "false")
                                                : std::string("null");
        body += "  " + JsonString(fact.key) + ": " + value + ",\n";
    }
    std::string list;
    for (const std::string& note : notes) list += (list.empty() ? "" : ", ") + JsonString(note);
    return "{\n" + body + "  \"notes\": [" + list + "]\n}\n";
}

}  // namespace

int RunInfo(const InfoCommand& command) {
    TChmExtractor extractor;
    extractor.Open(command.file);
    const HelpFileFacts facts = ReadHelpFileFacts(extractor.Items());
    const Shown shown = Present(facts);
    const std::vector<Fact> shownFacts = FactsToShow(command.file, facts, shown);
    const std::string text = command.json ? JsonOf(shownFacts, facts.notes) : TextOf(shownFacts, facts.notes);
    WriteStdout(text.data(), text.size());
    return kExitOk;
}

}  // namespace vexmor::cli
