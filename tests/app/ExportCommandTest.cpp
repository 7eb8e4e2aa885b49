// Export this and Export all, driven through the real save dialog and
// folder picker.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
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

QTreeWidgetItem* RowNamed(QTreeWidget* list, const QString& text) {
    const QList<QTreeWidgetItem*> found = list->findItems(text, Qt::MatchExactly, 0);
    return found.isEmpty() ? nullptr : found.first();
}

ManifestEntry EntryNamed(const QString& name) {
    for (const ManifestEntry& entry : ReadManifest(DataPath("small.sha256")))
        if (entry.name == name)
            return entry;
    return {};
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

class ExportCommandTest : public QObject {
    Q_OBJECT

    std::shared_ptr<StorageTrace> trace_;
    std::unique_ptr<TfrmMainForm> form_;
    std::unique_ptr<QTemporaryDir> scratch_;

    QString Scratch(const QString& name) const { return QDir(scratch_->path()).filePath(name); }

private slots:
    void init() {
        scratch_ = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch_->isValid());
        trace_ = std::make_shared<StorageTrace>();
        form_ = ShowMainForm(trace_);
    }
    void cleanup() {
        form_.reset();
        scratch_.reset();
    }

    void exportsDoNothingWithoutFocusedRowOrOpenFile() {
        {
            ModalScript noDialogs;
            form_->tbExportAll->click();  // nothing open
            QCOMPARE(noDialogs.Unexpected(), 0);
        }
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        QVERIFY(!form_->lvItems->currentIndex().isValid());
        {
            ModalScript noDialogs;
            form_->tbExportThis->click();  // no focused row
            QCOMPARE(noDialogs.Unexpected(), 0);
        }
        QCOMPARE(form_->lbError->count(), 0);
    }

    void exportThisWritesFocusedItemUnderItsBareName() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        QTreeWidgetItem* row = RowNamed(form_->lvItems, QStringLiteral("html/page1.html"));
        QVERIFY(row != nullptr);
        form_->lvItems->setCurrentItem(row);

        // Renaming the row in place changes the display only.
        form_->lvItems->editItem(row, 0);
        auto* editor = form_->lvItems->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor != nullptr);
        editor->setText(QStringLiteral("renamed.txt"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(row->text(0), QStringLiteral("renamed.txt"));

        // Onto an existing, longer file: replaced without a question.
        const QString target = Scratch("out.bin");
        QVERIFY(WriteFile(target, QByteArray(20000, 'x')));
        ModalScript script({[&](QWidget* modal) {
            QFileDialog* dialog = AsFileDialog(modal);
            if (dialog == nullptr)
                return;
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QCOMPARE(FileNameText(modal), QStringLiteral("page1.html"));
            TypeAndAccept(modal, target);
        }});
        form_->tbExportThis->click();
        QVERIFY(script.AllStepsRan());
        QCOMPARE(script.Unexpected(), 0);

        const ManifestEntry expected = EntryNamed(QStringLiteral("html/page1.html"));
        QCOMPARE(QFileInfo(target).size(), expected.size);
        QCOMPARE(FileSha256(target), expected.sha256);
        QCOMPARE(form_->lbError->count(), 0);
    }

    void exportAllWritesTreeAndRemembersFolder() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        const QString first = Scratch("first");
        QVERIFY(QDir().mkpath(first));

        ModalScript script({[&](QWidget* modal) {
            QCOMPARE(modal->windowTitle(), QStringLiteral("请选择一个文件夹"));
            QFileDialog* dialog = AsFileDialog(modal);
            if (dialog == nullptr)
                return;
            QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
            TypeAndAccept(modal, first);
        }});
        form_->tbExportAll->click();
        QVERIFY(script.AllStepsRan());
        QCOMPARE(form_->LastExportDir, QFile::encodeName(first).toStdString() + "/");
        QCOMPARE(form_->lbError->count(), 0);

        QStringList expectedFiles;
        for (const ManifestEntry& entry : ReadManifest(DataPath("small.sha256"))) {
            expectedFiles.append(entry.name);
            // Joined by hand: QDir takes a name beginning with ':' for a resource.
            QCOMPARE(FileSha256(first + u'/' + entry.name), entry.sha256);
        }
        expectedFiles.sort();
        QCOMPARE(FilesBelow(first), expectedFiles);

        // The wait cursor was up for every stream, and is gone now.
        QVERIFY(!trace_->cursorAtStreamOpen.empty());
        for (int shape : trace_->cursorAtStreamOpen)
            QCOMPARE(shape, static_cast<int>(Qt::WaitCursor));
        QCOMPARE(CurrentCursorShape(), kNoOverride);
    }

    void secondExportAllPreselectsFirstFolderAndCancelForgetsIt() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        const QString first = Scratch("first");
        QVERIFY(QDir().mkpath(first));
        const std::string firstDir = QFile::encodeName(first).toStdString() + "/";

        ModalScript script({
            [&](QWidget* modal) { TypeAndAccept(modal, first); },
            [&](QWidget* modal) {
                // Preselected: taking the dialog as it opens gives the same folder.
                QFileDialog* dialog = AsFileDialog(modal);
                if (dialog == nullptr)
                    return;
                QCOMPARE(dialog->selectedFiles(), QStringList{first});
                Accept(modal);
            },
            Cancel,
            [&](QWidget* modal) {
                QCOMPARE(FileNameText(modal), QString());
                Cancel(modal);
            },
        });
        form_->tbExportAll->click();
        QCOMPARE(form_->LastExportDir, firstDir);
        form_->tbExportAll->click();
        QCOMPARE(form_->LastExportDir, firstDir);
        form_->tbExportAll->click();
        QCOMPARE(form_->LastExportDir, std::string());
        form_->tbExportAll->click();
        QVERIFY(script.AllStepsRan());
        QCOMPARE(script.Unexpected(), 0);
        QCOMPARE(form_->lbError->count(), 0);
    }

    void failingExportAllRestoresCursorAndAddsRow() {
        QVERIFY(OpenThroughDialog(*form_, DataPath("small.chm")));
        // A plain file stands where the inner folder "html" has to go.
        const QString target = Scratch("blocked");
        QVERIFY(QDir().mkpath(target));
        QVERIFY(WriteFile(QDir(target).filePath("html"), "not a folder"));

        ModalScript script({[&](QWidget* modal) { TypeAndAccept(modal, target); }});
        form_->tbExportAll->click();
        QVERIFY(script.AllStepsRan());

        QCOMPARE(ErrorRows(*form_).size(), 1);
        QVERIFY(ErrorRows(*form_).first().startsWith(QStringLiteral("不能创建文件夹-html")));
        QCOMPARE(CurrentCursorShape(), kNoOverride);
        // What came before the failing item stays on disk.
        const ManifestEntry system = EntryNamed(QStringLiteral("#SYSTEM"));
        QCOMPARE(FileSha256(target + QStringLiteral("/#SYSTEM")), system.sha256);
    }
};

std::unique_ptr<QObject> MakeExportCommandTest() {
    return std::make_unique<ExportCommandTest>();
}

#include "ExportCommandTest.moc"
