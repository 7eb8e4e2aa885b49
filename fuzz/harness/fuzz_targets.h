// What each fuzz target does with one input. The libFuzzer entry points and
// the replay of the regression corpus under ctest call the same functions,
// so a committed reproducer exercises exactly the code that failed.
//
// A run returns normally when the input was handled: read, or refused with
// one of the program's own exceptions. Any other exception escapes, and a
// broken guarantee (a file outside the target folder, a changed input)
// aborts with a message.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexmor::fuzz {

// Opens the bytes as a help file, walks every storage, opens every stream
// and reads the start of each, until the run's decode budget is spent
// (run_limits.h). The last byte picks a small span cache or the default one.
void RunReader(const std::uint8_t* data, std::size_t size);

// Decodes the bytes as one LZX span. The first byte picks the window size,
// the next three the span length (up to 1 MiB).
void RunLzx(const std::uint8_t* data, std::size_t size);

// Opens the bytes as a help file through the catalogue, plants links, hard
// links and FIFOs at the places of items the export writes first, in a
// fresh target folder, and extracts the items into it within the run's
// budgets; then checks that nothing appeared or changed outside it, that the
// input file is unchanged, and that the run did not block.
// The reader decodes alone.
void RunExtract(const std::uint8_t* data, std::size_t size);

// The same run with the reader decoding ahead of the export on
// kReadAheadWorkers threads (the default reader plans the export's reads),
// and the items read and their pages filtered on a thread of their own
// ahead of the writing, as the site export does: meant for a
// ThreadSanitizer build (the fuzz-tsan preset).
inline constexpr unsigned kReadAheadWorkers = 2;
void RunExtractReadingAhead(const std::uint8_t* data, std::size_t size);

// Reads the bytes as a list of placements, plans an export of items placed
// so (StorageOrder, FolderExport) and checks the plan: every item once,
// sorted by area then offset with ties in catalogue order, and a refusal
// exactly when two non-empty claims share a byte, naming two such items.
void RunOrder(const std::uint8_t* data, std::size_t size);

// The first byte picks the charsets and the page's folder; the rest is cut
// at "\n--part--\n" into a contents file, a page, a style sheet and a
// keyword index (the contents file again when there is none). Reads the
// contents and index in pieces of random sizes (which must give what one
// read of the whole gives), rewrites the page and the sheet (a rewrite
// needs no second one; a page the quick look passes over is kept), and
// makes the entry and keyword pages, whose tags, escaping and links are
// checked (made_page_check.h).
void RunSite(const std::uint8_t* data, std::size_t size);

// The first byte picks the code page of a page without charset (bits 0-1),
// the page's folder (bit 2) and the book's language (bit 3); the rest is a
// help page, written as a page of an e-book. Checks that what is written is
// well-formed XML, holds no script, object, frame or form element, no event
// attribute and no script link, and holds every id it says it holds.
void RunEpubPage(const std::uint8_t* data, std::size_t size);

}  // namespace vexmor::fuzz
