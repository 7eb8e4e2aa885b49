#include "tests/site/headless_browser.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

#include "tests/common/temp_dir.h"

namespace vexmor::sitetest {

namespace {

constexpr const char* kSeconds = "120";

// Reads every resource the page asked for again by XMLHttpRequest: a load
// that failed (a missing file under another letter case) fails here too.
constexpr const char* kReportScript = R"js(
function probe(url) {
  // Synchronous: the report is complete when the load event ends, which is
  // when the document is dumped.
  try {
    var request = new XMLHttpRequest();
    request.open('GET', url, false);
    request.send();
    return 'OK ' + url;
  } catch (e) {
    return 'FAILED ' + url;
  }
}
function urlsOf(text, base) {
  var out = [], re = /url\(\s*(['"]?)([^'")]*)\1\s*\)/g, m;
  while ((m = re.exec(text))) out.push(new URL(m[2], base).href);
  return out;
}
window.addEventListener('load', function () {
  var report = document.getElementById('report');
  var frame = document.getElementById('page');
  var doc = null;
  try { doc = frame.contentDocument; } catch (e) {}
  if (!doc || doc.URL.indexOf('file:') !== 0) { report.textContent = 'NO DOCUMENT\nDONE'; return; }
  var lines = [probe(doc.URL)];
  doc.querySelectorAll('link[rel~="stylesheet"]').forEach(function (e) { lines.push(probe(e.href)); });
  doc.querySelectorAll('img[src], frame[src], iframe[src], script[src]').forEach(function (e) { lines.push(probe(e.src)); });
  doc.querySelectorAll('*').forEach(function (e) {
    urlsOf(doc.defaultView.getComputedStyle(e).backgroundImage, doc.URL).forEach(function (u) { lines.push(probe(u)); });
  });
  report.textContent = lines.join('\n') + '\nDONE';
});
)js";

}  // namespace

bool ChromiumInstalled() { return ::access(kChromium, X_OK) == 0; }

std::string FileUrl(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            std::string_view("/-._~$").find(c) != std::string_view::npos) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 15];
        }
    }
    return url;
}

BrowserRun DumpDom(const std::string& url, bool fileAccess) {
    test::TempDir profile;
    const std::string outPath = profile / "dom";
    std::vector<std::string> args{"/usr/bin/timeout", "--kill-after=5", kSeconds, kChromium,
                                  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                  "--user-data-dir=" + (profile / "user")};
    if (fileAccess) args.push_back("--allow-file-access-from-files");
    args.push_back("--dump-dom");
    args.push_back(url);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_WRONLY);
        if (out < 0 || null < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(null, STDERR_FILENO) < 0) ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    BrowserRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.finished = run.exitStatus != 124 && run.exitStatus != 137 && run.exitStatus != -1;
    run.dom = test::ReadFile(outPath);
    return run;
}

std::vector<std::string> LoadReport(const std::string& path) {
    test::TempDir place;
    const std::string checker = place / "check.html";
    test::WriteFile(checker, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><pre id=\"report\">"
                             "PENDING</pre><script>" +
                                 std::string(kReportScript) + "</script><iframe id=\"page\" src=\"" + FileUrl(path) +
                                 "\"></iframe></body></html>");
    const BrowserRun run = DumpDom(FileUrl(checker), true);
    const std::size_t start = run.dom.find("<pre id=\"report\">");
    const std::size_t end = run.dom.find("</pre>", start);
    if (!run.finished || start == std::string::npos || end == std::string::npos) return {};
    std::vector<std::string> lines;
    std::istringstream text(run.dom.substr(start + 17, end - start - 17));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    if (lines.empty() || lines.back() != "DONE") return {};
    lines.pop_back();
    return lines;
}

}  // namespace vexmor::sitetest
