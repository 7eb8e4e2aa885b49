// Takes the README's picture of the window: a help file open, one row
// focused and one failure in the error list. Run under a real display
// server (Xvfb), e.g. through the `screenshot` build target.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>

#include "app/ChmApplication.h"
#include "app/uMainFrm.h"
#include "ModalScript.h"

using vexmor::TChmApplication;
using vexmor::TfrmMainForm;

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png HELPFILE.chm\n", argv[0]);
        return 2;
    }
    QStandardPaths::setTestModeEnabled(true);  // leave the user's dialog settings alone
    TChmApplication application(argc, argv);
    const QString output = QString::fromLocal8Bit(argv[1]);
    const QString helpFile = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();

    TfrmMainForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;

    // A folder where a plain file blocks the inner folder "html".
    QTemporaryDir scratch;
    QFile blocker(scratch.path() + QStringLiteral("/html"));
    if (!blocker.open(QIODevice::WriteOnly))
        return 1;
    blocker.close();

    ModalScript script({
        [&](QWidget* modal) { TypeAndAccept(modal, helpFile); },
        [&](QWidget* modal) { TypeAndAccept(modal, scratch.path()); },
    });
    form.tbOpen->click();
    form.tbExportAll->click();
    if (!script.AllStepsRan())
        return 1;

    const QList<QTreeWidgetItem*> rows =
        form.lvItems->findItems(QStringLiteral("html/page1.html"), Qt::MatchExactly, 0);
    if (!rows.isEmpty())
        form.lvItems->setCurrentItem(rows.first());
    form.lvItems->setFocus();
    QTest::qWait(200);  // let the icons and fonts settle on screen

    if (!form.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
