// The program block: the application, the one main window, the event loop.
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/ChmApplication.h"
#include "app/uMainFrm.h"

int main(int argc, char* argv[]) {
    TChmApplication application(argc, argv);
    application.setWindowIcon(QIcon(QStringLiteral(":/icons/vexmorchm-128.png")));
    application.setDesktopFileName(QStringLiteral("vexmorchm"));

    // Qt's own dialogs speak the desktop's language, as the platform's would.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&qtTexts);

    int result = 0;
    {
        // The window, and with it the catalogue and every storage reference,
        // ends before the application object.
        TfrmMainForm frmMainForm;
        frmMainForm.show();
        result = application.exec();
    }
    return result;
}
