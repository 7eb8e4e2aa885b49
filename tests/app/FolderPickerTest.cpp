// BrowseForFolder with Qt's real folder dialog.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

#include "app/DirSel.h"
#include "ModalScript.h"
#include "TestSuites.h"

using vexmor::BrowseForFolder;

class FolderPickerTest : public QObject {
    Q_OBJECT

    static std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

    // Lives as long as the suite: the rows of a table name folders in it.
    QTemporaryDir scratch_;

private slots:
    void cancelReturnsFalseWithEmptyResult() {
        std::string result = "left over";
        ModalScript script({Cancel});
        QVERIFY(!BrowseForFolder(nullptr, "标题", "/tmp/", result));
        QVERIFY(script.AllStepsRan());
        QCOMPARE(result, std::string());
    }

    void chosenFolderEndsInSeparator_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QVERIFY(scratch_.isValid());
        QDir(scratch_.path()).mkdir(QStringLiteral("out 中文"));
        const QString folder = QDir(scratch_.path()).filePath(QStringLiteral("out 中文"));
        QTest::newRow("folder") << folder << folder + u'/';
        QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    }
    void chosenFolderEndsInSeparator() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        std::string result;
        ModalScript script({[&](QWidget* modal) {
            QCOMPARE(modal->windowTitle(), QStringLiteral("标题"));
            TypeAndAccept(modal, typed);
        }});
        QVERIFY(BrowseForFolder(nullptr, "标题", "", result));
        QVERIFY(script.AllStepsRan());
        QCOMPARE(result, Bytes(expected));
    }

    void initialFolderIsPreselected_data() {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("with separator") << QDir::tempPath() + u'/' << QDir::tempPath() + u'/';
        QTest::newRow("without separator") << QDir::tempPath() << QDir::tempPath() + u'/';
        QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    }
    void initialFolderIsPreselected() {
        QFETCH(QString, initial);
        QFETCH(QString, chosen);
        // The same string passed as initial folder and result, as Export all does.
        std::string folder = Bytes(initial);
        ModalScript script({Accept});
        QVERIFY(BrowseForFolder(nullptr, "标题", folder, folder));
        QVERIFY(script.AllStepsRan());
        QCOMPARE(folder, Bytes(chosen));
    }
};

std::unique_ptr<QObject> MakeFolderPickerTest() {
    return std::make_unique<FolderPickerTest>();
}

#include "FolderPickerTest.moc"
