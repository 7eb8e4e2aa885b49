// The program block: the application, the one main window, the event loop.
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ChmApplication.h"
#include "app/CommandLine.h"
#include "app/uMainFrm.h"
#include "catalogue/part_file_guard.h"

namespace {

std::vector<std::string> Arguments(int argc, char* argv[]) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before the window system starts, so that they work without a
    // display (Qt ends the program when it finds none).
    const vexmor::TCommandLine asked = vexmor::ParseCommandLine(Arguments(argc, argv));
    if (asked.help || asked.version) {
        std::fputs(asked.help ? vexmor::kCommandLineUsage : vexmor::kVersionText, stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }

    vexmor::TChmApplication application(argc, argv);
    application.setWindowIcon(QIcon(QStringLiteral(":/icons/vexmorchm-128.png")));
    application.setDesktopFileName(QStringLiteral("vexmorchm"));

    // Qt has taken its own options out of argv; the file stays as its bytes.
    const vexmor::TCommandLine commandLine = vexmor::ParseCommandLine(Arguments(argc, argv));
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "vexmorchm: %s\n%s", commandLine.error.c_str(), vexmor::kCommandLineUsage);
        return 2;
    }

    // An export stopped by Ctrl+C, kill or a closed terminal leaves no part file.
    vexmor::RemovePartFilesOnSignals();

    // Qt's own dialogs speak the desktop's language, as the platform's would.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&qtTexts);

    int result = 0;
    {
        // The window, and with it the catalogue and every storage reference,
        // ends before the application object.
        vexmor::TfrmMainForm frmMainForm;
        frmMainForm.show();
        if (!commandLine.file.empty()) {
            // Once the window is on screen, as if the user had opened the file.
            QTimer::singleShot(0, &frmMainForm, [&frmMainForm, file = commandLine.file] { frmMainForm.OpenFile(file); });
        }
        result = application.exec();
    }
    return result;
}
