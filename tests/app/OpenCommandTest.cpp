// The Open command, driven through the real open dialog.
#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include "app/CommandLine.h"
#include "Fixture.h"
#include "ModalScript.h"
#include "TestSuites.h"
#include "WindowDriver.h"

using vexmor::ParseCommandLine;
using vexmor::TCommandLine;
using vexmor::TfrmMainForm;

namespace {

constexpr int kNoOverride = -1;

QString SmallStatus(const QString& name = QStringLiteral("small.chm")) {
    return QStringLiteral("文件:") + name +
           QStringLiteral(", 总共%1项").arg(ReadManifest(DataPath("small.sha256")).size());
}

QList<QUrl> LocalUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

// Drags `urls` onto the window and drops them where it lets them; true
// when the window took the drop.
bool Drop(TfrmMainForm& form, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint where(200, 150);
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    return drop.isAccepted();
}

bool CompletionPopupShown() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->windowType() == Qt::Popup)
            return true;
    return false;
}

// The row of a failed open: our words naming the file, then the reader's.
QString OpenFailure(const QString& path, const QString& detail) {
    return QStringLiteral("不能打开帮助文件-%1: %2").arg(path, detail);
}
const QString kNotFound = QStringLiteral("File or element not found (No such file or directory)");
const QString kNotHelp = QStringLiteral("Not a compiled HTML help file: the ITSF signature is missing");

}  // namespace

class OpenCommandTest : public QObject {
    Q_OBJECT

    std::shared_ptr<StorageTrace> trace_;
    std::unique_ptr<TfrmMainForm> form_;
    QTemporaryDir scratch_;

private slots:
    void init() {
        trace_ = std::make_shared<StorageTrace>();
        form_ = ShowMainForm(trace_);
    }
    void cleanup() { form_.reset(); }

    void startsWithNothingOpen() {
        QCOMPARE(StatusText(*form_), QStringLiteral("当前未打开文件"));
        QCOMPARE(form_->lvItems->topLevelItemCount(), 0);
        QCOMPARE(form_->lbError->count(), 0);
        QVERIFY(form_->Extractor->FileName().empty());
    }

    void opensFixtureOneRowPerItemInCatalogueOrder() {
        const QString path = DataPath("small.chm");
        ModalScript script({[&](QWidget* modal) {
            QFileDialog* dialog = AsFileDialog(modal);
            if (dialog == nullptr)
                return;
            QCOMPARE(dialog->testOption(QFileDialog::DontUseNativeDialog), true);
            QCOMPARE(dialog->nameFilters(), QStringList({"Chm Files (*.chm)", "All Files (*)"}));
            QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Chm Files (*.chm)"));
            TypeAndAccept(modal, path);
        }});
        form_->tbOpen->click();
        QVERIFY(script.AllStepsRan());

        QStringList expected;
        for (const ManifestEntry& entry : ReadManifest(DataPath("small.sha256")))
            expected.append(entry.name + u'\t' + QString::number(entry.size));
        QCOMPARE(ItemRows(*form_), expected);
        const vexmor::TChmItems& items = form_->Extractor->Items();
        QCOMPARE(static_cast<std::size_t>(form_->lvItems->topLevelItemCount()), items.Count());
        for (std::size_t i = 0; i < items.Count(); ++i) {
            const std::string inner = items[i].Path.empty() ? items[i].Name : items[i].Path + "/" + items[i].Name;
            QCOMPARE(form_->lvItems->topLevelItem(static_cast<int>(i))->text(0).toStdString(), inner);
        }
        QCOMPARE(StatusText(*form_), SmallStatus());
        QCOMPARE(form_->lbError->count(), 0);

        // The wait cursor was up while the file opened, and is gone now.
        QCOMPARE(trace_->cursorAtFileOpen, std::vector<int>{Qt::WaitCursor});
        QCOMPARE(CurrentCursorShape(), kNoOverride);
    }

    void cancelLeavesEverythingAsItWas() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QStringList rows = ItemRows(*form_);
        const std::string fileName = form_->Extractor->FileName();

        ModalScript script({Cancel});
        form_->tbOpen->click();
        QVERIFY(script.AllStepsRan());

        QCOMPARE(ItemRows(*form_), rows);
        QCOMPARE(StatusText(*form_), SmallStatus());
        QCOMPARE(form_->Extractor->FileName(), fileName);
        QCOMPARE(trace_->componentsCreated, 1);
        QCOMPARE(form_->lbError->count(), 0);
        QCOMPARE(CurrentCursorShape(), kNoOverride);
    }

    // The status line never names a file that is no longer open.
    void missingFileAddsFailureRowAndSaysNothingIsOpen() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QString missing = QDir(scratch_.path()).filePath("missing.chm");

        form_->OpenFile(PathBytes(missing));

        QCOMPARE(ErrorRows(*form_), QStringList{OpenFailure(missing, kNotFound)});
        QVERIFY(!ErrorRows(*form_).first().isEmpty());
        QCOMPARE(form_->lvItems->topLevelItemCount(), 0);
        QCOMPARE(StatusText(*form_), QStringLiteral("当前未打开文件"));
        QVERIFY(form_->Extractor->FileName().empty());
        QCOMPARE(CurrentCursorShape(), kNoOverride);
    }

    void reopeningSameFileReAddsRowsWithoutNewWalk() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        const QStringList rows = ItemRows(*form_);
        form_->lvItems->topLevelItem(0)->setText(0, QStringLiteral("edited"));

        // The dialog offers the folder chosen last; the name typed without
        // its suffix gets ".chm".
        ModalScript script({[&](QWidget* modal) {
            QFileDialog* dialog = AsFileDialog(modal);
            if (dialog == nullptr)
                return;
            QCOMPARE(dialog->directory().absolutePath(), QFileInfo(DataPath("small.chm")).absolutePath());
            QCOMPARE(dialog->defaultSuffix(), QStringLiteral("chm"));
            TypeAndAccept(modal, DataPath("small"));
        }});
        form_->tbOpen->click();
        QVERIFY(script.AllStepsRan());

        QCOMPARE(ItemRows(*form_), rows);
        QCOMPARE(StatusText(*form_), SmallStatus());
        QCOMPARE(trace_->componentsCreated, 1);
    }

    void twoFailuresGiveTwoRowsOldestFirst() {
        const QString missing = QDir(scratch_.path()).filePath("missing.chm");
        const QString notHelp = DataPath("small.sha256");
        form_->OpenFile(PathBytes(missing));
        form_->OpenFile(PathBytes(notHelp));

        const QStringList expected{OpenFailure(missing, kNotFound), OpenFailure(notHelp, kNotHelp)};
        QVERIFY(expected[0] != expected[1]);
        QCOMPARE(ErrorRows(*form_), expected);
        QCOMPARE(StatusText(*form_), QStringLiteral("当前未打开文件"));
        QCOMPARE(form_->lvItems->topLevelItemCount(), 0);
    }

    // Qt's arg() chained would replace a "%2" inside the name by the count.
    void statusLineShowsNameAsItIs_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("%2") << QStringLiteral("a%2.chm");
        QTest::newRow("%1%2") << QStringLiteral("%1%2.chm");
        QTest::newRow("%L1") << QStringLiteral("%L1 帮助.chm");
    }
    void statusLineShowsNameAsItIs() {
        QFETCH(QString, name);
        const QString path = QDir(scratch_.path()).filePath(name);
        QVERIFY(QFile::copy(DataPath("small.chm"), path));
        form_->OpenFile(PathBytes(path));
        QCOMPARE(StatusText(*form_), SmallStatus(name));
    }

    void newListStartsAtItsTop() {
        const QString other = QDir(scratch_.path()).filePath("other.chm");
        QVERIFY(QFile::copy(DataPath("small.chm"), other));
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        form_->lvItems->scrollToBottom();
        QApplication::processEvents();
        QVERIFY(form_->lvItems->verticalScrollBar()->value() > 0);

        QVERIFY(OpenDirectly(*form_, other));
        QApplication::processEvents();

        QCOMPARE(form_->lvItems->verticalScrollBar()->value(), 0);
        QCOMPARE(form_->lvItems->indexAt(QPoint(1, 1)).row(), 0);
    }

    // Typing a path lets the name box offer completions; Return takes the
    // path and must take the completion list away with the dialog.
    void typedPathLeavesNoCompletionPopup() {
        const QString folder = QDir(scratch_.path()).filePath("sub");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(DataPath("small.chm"), QDir(folder).filePath("small.chm")));
        QVERIFY(QFile::copy(DataPath("small.chm"), QDir(folder).filePath("smaller.chm")));
        bool popupWhileTyping = false;
        ModalScript script({[&](QWidget* modal) {
            QFileDialog* dialog = AsFileDialog(modal);
            if (dialog == nullptr)
                return;
            auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            dialog->activateWindow();
            QVERIFY(QTest::qWaitFor([box] {
                box->setFocus(Qt::OtherFocusReason);
                return box->hasFocus();
            }));
            QTest::keyClicks(box, folder + QStringLiteral("/sma"));
            popupWhileTyping = QTest::qWaitFor(CompletionPopupShown, 2000);
            QTest::keyClicks(box, QStringLiteral("ll.chm"));
            QTest::keyClick(box, Qt::Key_Return);
            if (dialog->isVisible())
                Cancel(modal);
        }});
        form_->tbOpen->click();
        QVERIFY(script.AllStepsRan());
        QVERIFY(popupWhileTyping);
        QCOMPARE(StatusText(*form_), SmallStatus());
        QApplication::processEvents();
        QVERIFY(!CompletionPopupShown());
    }

    void dropOfOneHelpFileOpensIt() {
        QVERIFY(Drop(*form_, LocalUrls({DataPath("small.chm")})));
        QTRY_COMPARE(StatusText(*form_), SmallStatus());
        QCOMPARE(form_->lvItems->topLevelItemCount(), ReadManifest(DataPath("small.sha256")).size());
        QCOMPARE(form_->lbError->count(), 0);
    }

    void dropIsRefused_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::newRow("not a help file") << LocalUrls({DataPath("small.sha256")});
        QTest::newRow("two files") << LocalUrls({DataPath("small.chm"), DataPath("openmcdf.chm")});
        QTest::newRow("not local") << QList<QUrl>{QUrl(QStringLiteral("https://example.org/small.chm"))};
        QTest::newRow("nothing") << QList<QUrl>{};
    }
    void dropIsRefused() {
        QFETCH(QList<QUrl>, urls);
        QVERIFY(!Drop(*form_, urls));
        QApplication::processEvents();
        QCOMPARE(StatusText(*form_), QStringLiteral("当前未打开文件"));
        QCOMPARE(trace_->componentsCreated, 0);
    }

    // `vexmorchm FILE`: the file's bytes reach OpenFile unchanged.
    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<bool>("wrong");
        QTest::newRow("none") << QStringList{} << QString() << false << false << false;
        QTest::newRow("file") << QStringList{"a b.chm"} << "a b.chm" << false << false << false;
        QTest::newRow("help") << QStringList{"--help"} << QString() << true << false << false;
        QTest::newRow("version") << QStringList{"--version"} << QString() << false << true << false;
        // Before Qt has taken its own options out, --help is still found.
        QTest::newRow("help after a Qt option") << QStringList{"-platform", "xcb", "-h"} << "xcb" << true << false << true;
        QTest::newRow("version after --") << QStringList{"--", "--version"} << "--version" << false << false << false;
        QTest::newRow("file after --") << QStringList{"--", "-x.chm"} << "-x.chm" << false << false << false;
        QTest::newRow("dash alone is a name") << QStringList{"-"} << "-" << false << false << false;
        QTest::newRow("unknown option") << QStringList{"-x"} << QString() << false << false << true;
        QTest::newRow("two files") << QStringList{"a.chm", "b.chm"} << QString() << false << false << true;
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(bool, wrong);
        std::vector<std::string> bytes;
        for (const QString& argument : arguments)
            bytes.push_back(argument.toStdString());
        const TCommandLine parsed = ParseCommandLine(bytes);
        QCOMPARE(QString::fromStdString(parsed.file), file);
        QCOMPARE(parsed.help, help);
        QCOMPARE(parsed.version, version);
        QCOMPARE(!parsed.error.empty(), wrong);
    }

    // The program itself, started where there is no display at all.
    void helpAndVersionNeedNoDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("--help") << QStringList{"--help"} << "usage: vexmorchm [FILE]";
        QTest::newRow("-h") << QStringList{"-h"} << "usage: vexmorchm [FILE]";
        QTest::newRow("--version") << QStringList{"--version"} << "vexmorchm " VEXMOR_VERSION;
        QTest::newRow("--help with a file") << QStringList{"a.chm", "--help"} << "usage: vexmorchm [FILE]";
    }
    void helpAndVersionNeedNoDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, firstLine);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(VEXMOR_WINDOW_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(program.readAllStandardOutput()).section(u'\n', 0, 0), firstLine);
        QCOMPARE(program.readAllStandardError(), QByteArray());
    }

    void closingWithFileOpenReleasesEveryStorageReference() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        QVERIFY(trace_->Alive() > 0);

        QVERIFY(form_->close());
        form_.reset();  // as the program block does once the event loop ends

        QCOMPARE(trace_->Alive(), std::size_t{0});
    }
};

std::unique_ptr<QObject> MakeOpenCommandTest() {
    return std::make_unique<OpenCommandTest>();
}

#include "OpenCommandTest.moc"
