// The Open command, driven through the real open dialog.
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "Fixture.h"
#include "ModalScript.h"
#include "TestSuites.h"
#include "WindowDriver.h"

namespace {

constexpr int kNoOverride = -1;

QString SmallStatus() {
    return QStringLiteral("文件:small.chm, 总共%1项").arg(ReadManifest(DataPath("small.sha256")).size());
}

// The message the catalogue gives for opening `path`.
QString OpenFailure(const QString& path) {
    vexmor::TChmExtractor extractor;
    try {
        extractor.Open(QFile::encodeName(path).toStdString());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

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
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
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

    void missingFileAddsFailureRowAndKeepsOldStatus() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        const QString missing = QDir(scratch_.path()).filePath("missing.chm");

        QVERIFY(OpenThroughDialog(*form_, missing));

        QCOMPARE(ErrorRows(*form_), QStringList{OpenFailure(missing)});
        QVERIFY(!ErrorRows(*form_).first().isEmpty());
        QCOMPARE(form_->lvItems->topLevelItemCount(), 0);
        QCOMPARE(StatusText(*form_), SmallStatus());
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
        QVERIFY(OpenThroughDialog(*form_, missing));
        QVERIFY(OpenThroughDialog(*form_, notHelp));

        const QStringList expected{OpenFailure(missing), OpenFailure(notHelp)};
        QVERIFY(expected[0] != expected[1]);
        QCOMPARE(ErrorRows(*form_), expected);
        QCOMPARE(StatusText(*form_), QStringLiteral("当前未打开文件"));
        QCOMPARE(form_->lvItems->topLevelItemCount(), 0);
    }

    void closingWithFileOpenReleasesEveryStorageReference() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
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
