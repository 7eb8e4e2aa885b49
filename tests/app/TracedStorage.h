// A storage factory around the real reader that records every component,
// storage and stream it hands out (as weak references, so it keeps none of
// them alive) and the application's cursor at the moments a file or a
// stream is opened.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/uChmExtractor.h"

struct StorageTrace {
    int componentsCreated = 0;
    std::vector<std::weak_ptr<void>> handedOut;
    // Cursor shape when a file was opened / a stream was opened; -1 for the
    // normal cursor (no override).
    std::vector<int> cursorAtFileOpen;
    std::vector<int> cursorAtStreamOpen;
    // Called before the first block of a stream is read, on the thread that
    // reads it (an export's worker); may block or throw.
    std::function<void(const std::string& name)> onFirstRead;

    std::size_t Alive() const;
};

vexmor::TChmExtractor::StorageMaker TracingFactory(std::shared_ptr<StorageTrace> trace);

// The override cursor's shape, -1 when none is set.
int CurrentCursorShape();
