// A help file written as an EPUB 3 e-book (with an EPUB 2 table of contents
// for older readers): one zip file, built aside in its folder and put at its
// name only when complete.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <future>
#include <string>
#include <vector>

#include "catalogue/uChmExtractor.h"
#include "epub/book_names.h"
#include "epub/package_files.h"
#include "site/site_facts.h"
#include "site/site_names.h"

namespace vexmor::epub {

// The observer said to stop: no book was written.
class EEpubStopped : public std::runtime_error {
public:
    EEpubStopped() : std::runtime_error("stopped") {}
};

class EpubExport {
public:
    // `helpFile` is the path of the open help file (for its name, and for
    // the book's identifier, made from its bytes). Throws EChmExtractError
    // when two items claim the same bytes.
    EpubExport(const TChmItems& items, const std::string& helpFile);

    // The items that go into the book, in the order they are written.
    const std::vector<std::size_t>& Order() const { return order_; }

    // Writes the book at `target`. The observer hears of each item
    // (BeforeItem false stops the export: EEpubStopped is thrown) and of the
    // bytes read. Throws on failure; nothing is left at `target` or beside it.
    void Write(const std::string& target, ExportObserver* observer = nullptr);

    const site::SiteFacts& Facts() const { return facts_; }
    const BookFacts& Book() const { return book_; }

private:
    const TChmItems& items_;
    std::string helpFile_;
    // Hashed on a thread of its own while the names below are made; taken
    // for book_.
    std::future<std::string> identifier_;
    site::SiteFacts facts_;
    site::SiteNames names_;
    std::vector<std::size_t> storageOrder_;
    BookNames bookNames_;
    std::vector<std::size_t> order_;
    BookFacts book_;
};

// "name.epub" for the help file "folder/name.chm"; empty when its name gives
// none.
std::string BookNameOf(const std::string& helpFile);

// The facts of the package document that come from the file: language
// tag, compile time (else its modification time); `identifier` is that of
// BookIdentifierOf.
BookFacts ReadBookFacts(const TChmItems& items, const std::string& helpFile, const std::string& title,
                        std::string identifier);

// A name-based identifier of the file's bytes, as a UUID URN.
std::string BookIdentifierOf(const std::string& helpFile);

}  // namespace vexmor::epub
