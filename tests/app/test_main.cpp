// Runs one suite of the window's tests inside the program's own application
// object, so that its exception routing is the one under test.
#include <QByteArray>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "app/ChmApplication.h"
#include "TestSuites.h"

using vexmor::TChmApplication;

int main(int argc, char* argv[]) {
    const std::map<std::string, std::function<std::unique_ptr<QObject>()>> suites = {
        {"WindowLayout", MakeWindowLayoutTest},
        {"OpenCommand", MakeOpenCommandTest},
        {"ExportCommand", MakeExportCommandTest},
        {"ApplicationHandler", MakeApplicationHandlerTest},
        {"FolderPicker", MakeFolderPickerTest},
        {"Keyboard", MakeKeyboardTest},
    };
    if (argc < 2 || suites.count(argv[1]) == 0) {
        std::fprintf(stderr, "usage: %s SUITE [QtTest options]; suites:", argv[0]);
        for (const auto& suite : suites)
            std::fprintf(stderr, " %s", suite.first.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    const std::string name = argv[1];
    argv[1] = argv[0];  // QtTest takes the rest as its own options

    // Qt's file dialogs keep their state in the user's settings; keep the
    // tests away from the real ones.
    QStandardPaths::setTestModeEnabled(true);
    // The windows' places are kept in the user's runtime folder: a program
    // running beside the tests must not move their windows.
    QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/vexmor-app-tests-runtime-XXXXXX"));
    if (!runtime.isValid()) {
        std::fprintf(stderr, "cannot make a runtime folder for the tests\n");
        return 1;
    }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    TChmApplication application(argc, argv);
    std::unique_ptr<QObject> suite = suites.at(name)();
    return QTest::qExec(suite.get(), argc - 1, argv + 1);
}
