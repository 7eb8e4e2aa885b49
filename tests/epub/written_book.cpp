#include "tests/epub/written_book.h"

#include <gumbo.h>
#include <libxml/HTMLparser.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <vector>

#include "tests/common/temp_dir.h"

namespace vexmor::epubtest {

namespace fs = std::filesystem;

namespace {

constexpr const char* kEpubcheckJar = "/usr/share/java/epubcheck.jar";

void ReadEntries(WrittenBook& book) {
    int error = 0;
    zip_t* zip = zip_open(book.book.c_str(), ZIP_RDONLY, &error);
    if (zip == nullptr) return;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        if (zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &stat) != 0) continue;
        std::string bytes(static_cast<std::size_t>(stat.size), '\0');
        zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
        if (file == nullptr) continue;
        const zip_int64_t read = zip_fread(file, bytes.data(), bytes.size());
        zip_fclose(file);
        if (read != static_cast<zip_int64_t>(bytes.size())) continue;
        book.order.push_back(stat.name);
        book.entries[stat.name] = std::move(bytes);
        book.stored[stat.name] = stat.comp_method == ZIP_CM_STORE;
    }
    zip_close(zip);
}

void AppendText(std::string_view chars, std::string& text) {
    // A byte order mark at the start is no text.
    if (chars.starts_with("\xEF\xBB\xBF")) chars.remove_prefix(3);
    for (const char c : chars)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') text += c;
}

bool HoldsNoText(GumboTag tag) {
    return tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_HEAD || tag == GUMBO_TAG_NOSCRIPT ||
           tag == GUMBO_TAG_OBJECT || tag == GUMBO_TAG_TEMPLATE || tag == GUMBO_TAG_TITLE ||
           tag == GUMBO_TAG_SELECT || tag == GUMBO_TAG_TEXTAREA || tag == GUMBO_TAG_BUTTON;
}

void TextOf(const GumboNode* node, std::string& text) {
    std::vector<const GumboNode*> pending{node};
    while (!pending.empty()) {
        const GumboNode* current = pending.back();
        pending.pop_back();
        if (current->type == GUMBO_NODE_TEXT || current->type == GUMBO_NODE_CDATA) {
            AppendText(current->v.text.text, text);
            continue;
        }
        if (current->type != GUMBO_NODE_ELEMENT || HoldsNoText(current->v.element.tag)) continue;
        const GumboVector& children = current->v.element.children;
        for (unsigned i = children.length; i-- > 0;) pending.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
}

}  // namespace

std::string HelpPageText(const std::string& page) {
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        htmlReadMemory(page.data(), static_cast<int>(page.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                           HTML_PARSE_IGNORE_ENC),
        xmlFreeDoc);
    std::string text;
    if (!document) return text;
    std::vector<const xmlNode*> pending{xmlDocGetRootElement(document.get())};
    while (!pending.empty()) {
        const xmlNode* current = pending.back();
        pending.pop_back();
        if (current == nullptr) continue;
        if (current->type == XML_TEXT_NODE || current->type == XML_CDATA_SECTION_NODE) {
            if (current->content != nullptr) AppendText(reinterpret_cast<const char*>(current->content), text);
            continue;
        }
        if (current->type != XML_ELEMENT_NODE || HoldsNoText(gumbo_tag_enum(reinterpret_cast<const char*>(current->name))))
            continue;
        for (const xmlNode* child = current->last; child != nullptr; child = child->prev) pending.push_back(child);
    }
    return text;
}

void WriteBook(const std::vector<testsupport::ChmEntry>& entries, WrittenBook& book) {
    const testsupport::ChmImage image = testsupport::BuildChm(entries);
    book.chm = book.dir / "test.chm";
    test::WriteFile(book.chm, std::string(image.bytes.begin(), image.bytes.end()));
    WriteBookOf(book.chm, book);
}

void WriteBookOf(const std::string& chm, WrittenBook& book) {
    book.chm = chm;
    book.book = book.dir / "book.epub";
    book.run = test::RunCli({"epub", chm, "book.epub"}, book.dir.path().string());
    ReadEntries(book);
}

EpubCheck CheckBook(const std::string& book) {
    EpubCheck check;
    if (!fs::exists(kEpubcheckJar) || std::system("command -v java >/dev/null 2>&1") != 0) return check;
    const std::string command = "java -jar " + std::string(kEpubcheckJar) + " '" + book + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return check;
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) check.output.append(buffer, count);
    ::pclose(pipe);
    std::smatch match;
    if (std::regex_search(check.output, match,
                          std::regex("Messages: ([0-9]+) fatals? / ([0-9]+) errors? / ([0-9]+) warnings?"))) {
        check.ran = true;
        check.errors = std::stoi(match[1]) + std::stoi(match[2]);
        check.warnings = std::stoi(match[3]);
    }
    return check;
}

std::string BodyText(const std::string& page) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    std::string text;
    TextOf(output->root, text);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return text;
}

std::vector<std::string> NavNames(const std::string& nav) {
    std::vector<std::string> names;
    const std::regex link("<a href=\"[^\"]*\">([^<]*)</a>");
    for (auto it = std::sregex_iterator(nav.begin(), nav.end(), link); it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

}  // namespace vexmor::epubtest
