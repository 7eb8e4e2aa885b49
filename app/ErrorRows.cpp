#include "app/ErrorRows.h"

namespace vexmor {

namespace {

const char* const kOpenFailed = "不能打开帮助文件-";
const char* const kExportFailed = "导出失败";

// The message without the ": NAME" that repeats the subject the row names
// at its start ("File not found: a/b.html (No such file or directory)").
std::string DetailWithout(std::string message, const std::string& subject) {
    const std::string named = ": " + subject;
    if (subject.empty())
        return message;
    // Only the whole name: one that ends the message or a word of it.
    for (std::size_t at = message.find(named, 1); at != std::string::npos; at = message.find(named, at + 1)) {
        const std::size_t end = at + named.size();
        if (end == message.size() || message[end] == ' ') {
            message.erase(at, named.size());
            break;
        }
    }
    return message;
}

bool StartsWithOwnWords(const std::string& message) {
    // The program's own words are Chinese; the system's texts are ASCII.
    return !message.empty() && static_cast<unsigned char>(message.front()) >= 0x80;
}

}  // namespace

std::string OpenFailureRow(const std::string& path, const std::string& message) {
    return kOpenFailed + path + ": " + DetailWithout(message, path);
}

std::string ExportFailureRow(const std::string& item, const std::string& message) {
    if (StartsWithOwnWords(message))
        return message;
    if (item.empty())
        return std::string(kExportFailed) + ": " + message;
    return std::string(kExportFailed) + "-" + item + ": " + DetailWithout(message, item);
}

}  // namespace vexmor
