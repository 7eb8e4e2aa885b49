#include "site/html_tree.h"

#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <new>

namespace vexmor::site {

namespace {

// Each block gumbo asks for carries a header that links it into a list, so
// that a parse given up half-way frees all it took.
struct BlockHeader {
    BlockHeader* previous;
    BlockHeader* next;
};
constexpr std::size_t kHeaderSize = alignof(std::max_align_t) > sizeof(BlockHeader) ? alignof(std::max_align_t)
                                                                                     : sizeof(BlockHeader);

double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

struct HtmlTree::Allocations {
    BlockHeader list{&list, &list};
    double deadline = 0;
    unsigned sinceCheck = 0;
    bool outOfMemory = false;
    std::jmp_buf giveUp;

    ~Allocations() {
        for (BlockHeader* block = list.next; block != &list;) {
            BlockHeader* next = block->next;
            std::free(block);
            block = next;
        }
    }
};

namespace {

void* Allocate(void* context, size_t size) {
    auto* allocations = static_cast<HtmlTree::Allocations*>(context);
    // Every start tag allocates, so the clock is looked at often enough.
    if (++allocations->sinceCheck >= 64) {
        allocations->sinceCheck = 0;
        if (ThreadSeconds() > allocations->deadline) std::longjmp(allocations->giveUp, 1);
    }
    auto* block = static_cast<BlockHeader*>(std::malloc(kHeaderSize + size));
    if (block == nullptr) {
        allocations->outOfMemory = true;
        std::longjmp(allocations->giveUp, 1);
    }
    block->next = allocations->list.next;
    block->previous = &allocations->list;
    allocations->list.next->previous = block;
    allocations->list.next = block;
    return reinterpret_cast<char*>(block) + kHeaderSize;
}

void Deallocate(void*, void* pointer) {
    if (pointer == nullptr) return;
    auto* block = reinterpret_cast<BlockHeader*>(static_cast<char*>(pointer) - kHeaderSize);
    block->previous->next = block->next;
    block->next->previous = block->previous;
    std::free(block);
}

// Kept apart from any C++ object with a destructor: longjmp skips them.
GumboOutput* ParseOrGiveUp(const GumboOptions* options, const char* text, std::size_t size,
                           HtmlTree::Allocations* allocations) {
    if (setjmp(allocations->giveUp) != 0) return nullptr;
    return gumbo_parse_with_options(options, text, size);
}

}  // namespace

std::unique_ptr<HtmlTree> HtmlTree::Parse(std::string_view text, double seconds) {
    std::unique_ptr<HtmlTree> tree(new HtmlTree());
    tree->allocations_ = std::make_unique<Allocations>();
    tree->allocations_->deadline = ThreadSeconds() + seconds;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = Allocate;
    options.deallocator = Deallocate;
    options.userdata = tree->allocations_.get();
    options.max_errors = 0;  // the errors are not used: do not keep them
    tree->output_ = ParseOrGiveUp(&options, text.data(), text.size(), tree->allocations_.get());
    if (tree->allocations_->outOfMemory) throw std::bad_alloc();
    if (tree->output_ == nullptr) return nullptr;
    return tree;
}

// The blocks go with the list: no walk of the tree, however deep.
HtmlTree::~HtmlTree() = default;

}  // namespace vexmor::site
