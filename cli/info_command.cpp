#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/help_file_facts.h"
#include "catalogue/uChmExtractor.h"
#include "cli/commands.h"
#include "cli/escape.h"
#include "cli/language.h"
#include "cli/output.h"

namespace vexmor::cli {

namespace {

// The facts as printed: texts converted to UTF-8, absent ones empty.
struct Shown {
    std::optional<std::string> title, defaultTopic, defaultWindow, contentsFile, indexFile, compiler, compiled;
    std::optional<std::uint32_t> languageId;
    std::optional<std::string> languageName;
};

std::string IsoTime(std::int64_t unixTime) {
    const auto t = static_cast<std::time_t>(unixTime);
    std::tm parts{};
    if (::gmtime_r(&t, &parts) == nullptr) return {};
    char text[64];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) > 0 ? text : std::string();
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

class TextReport {
public:
    void Line(const std::string& label, const std::optional<std::string>& value) {
        if (value) text_ += label + ": " + EscapeForLine(*value) + "\n";
    }
    void Line(const std::string& label, const std::optional<std::uint64_t>& value, const char* unit = "") {
        if (value) text_ += label + ": " + std::to_string(*value) + unit + "\n";
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

std::string TextOf(const std::string& file, const HelpFileFacts& facts, const Shown& shown) {
    TextReport report;
    report.Line("file", file);
    report.Line("title", shown.title);
    report.Line("default topic", shown.defaultTopic);
    report.Line("default window", shown.defaultWindow);
    report.Line("contents file", shown.contentsFile);
    report.Line("index file", shown.indexFile);
    if (shown.languageId)
        report.Line("language", Hex(*shown.languageId) + (shown.languageName ? " " + *shown.languageName : ""));
    report.Line("compiler", shown.compiler);
    report.Line("compiled", shown.compiled);
    report.Line("streams", std::optional<std::uint64_t>(facts.streams));
    report.Line("stream bytes", std::optional<std::uint64_t>(facts.streamBytes));
    report.Line("file bytes", std::optional<std::uint64_t>(facts.fileBytes));
    if (facts.compressedSection) {
        report.Line("compressed section", std::optional<std::uint64_t>(facts.compressedSection->uncompressed),
                    " bytes uncompressed");
        report.Line("compressed section", std::optional<std::uint64_t>(facts.compressedSection->compressed),
                    " bytes compressed");
    }
    if (facts.lzx) {
        report.Line("LZX window", std::optional<std::uint64_t>(facts.lzx->windowBytes), " bytes");
        report.Line("LZX reset interval", std::optional<std::uint64_t>(facts.lzx->resetIntervalBytes), " bytes");
    }
    for (const std::string& note : facts.notes) report.Line("note", note);
    return report.Text();
}

class JsonObject {
public:
    void Key(const char* key, const std::optional<std::string>& value) {
        Add(key, value ? JsonString(*value) : "null");
    }
    void Key(const char* key, const std::optional<std::uint64_t>& value) {
        Add(key, value ? std::to_string(*value) : "null");
    }
    void Key(const char* key, const std::vector<std::string>& values) {
        std::string list = "[";
        for (const std::string& value : values) list += (list.size() > 1 ? ", " : "") + JsonString(value);
        Add(key, list + "]");
    }
    std::string Text() const { return "{\n" + body_ + "\n}\n"; }

private:
    void Add(const char* key, const std::string& json) {
        if (!body_.empty()) body_ += ",\n";
        body_ += "  " + JsonString(key) + ": " + json;
    }
    std::string body_;
};

template <class T>
std::optional<std::uint64_t> Number(const std::optional<T>& value) {
    if (!value) return std::nullopt;
    return static_cast<std::uint64_t>(*value);
}

std::string JsonOf(const std::string& file, const HelpFileFacts& facts, const Shown& shown) {
    JsonObject json;
    json.Key("file", file);
    json.Key("title", shown.title);
    json.Key("default_topic", shown.defaultTopic);
    json.Key("default_window", shown.defaultWindow);
    json.Key("contents_file", shown.contentsFile);
    json.Key("index_file", shown.indexFile);
    json.Key("language_id", Number(shown.languageId));
    json.Key("language", shown.languageName);
    json.Key("compiler", shown.compiler);
    json.Key("compiled", shown.compiled);
    json.Key("streams", std::optional<std::uint64_t>(facts.streams));
    json.Key("stream_bytes", std::optional<std::uint64_t>(facts.streamBytes));
    json.Key("file_bytes", std::optional<std::uint64_t>(facts.fileBytes));
    json.Key("section_uncompressed_bytes",
             facts.compressedSection ? std::optional<std::uint64_t>(facts.compressedSection->uncompressed) : std::nullopt);
    json.Key("section_compressed_bytes",
             facts.compressedSection ? std::optional<std::uint64_t>(facts.compressedSection->compressed) : std::nullopt);
    json.Key("lzx_window_bytes", facts.lzx ? std::optional<std::uint64_t>(facts.lzx->windowBytes) : std::nullopt);
    json.Key("lzx_reset_interval_bytes",
             facts.lzx ? std::optional<std::uint64_t>(facts.lzx->resetIntervalBytes) : std::nullopt);
    json.Key("notes", facts.notes);
    return json.Text();
}

}  // namespace

int RunInfo(const InfoCommand& command) {
    TChmExtractor extractor;
    extractor.Open(command.file);
    const HelpFileFacts facts = ReadHelpFileFacts(extractor.Items());
    const Shown shown = Present(facts);
    const std::string text = command.json ? JsonOf(command.file, facts, shown) : TextOf(command.file, facts, shown);
    WriteStdout(text.data(), text.size());
    return kExitOk;
}

}  // namespace vexmor::cli
