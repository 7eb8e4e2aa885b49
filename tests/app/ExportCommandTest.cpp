// Export this and Export all, driven through the real save dialog and
// folder picker.
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <functional>
#include <optional>
#include <stdexcept>

#include "app/ChmApplication.h"
#include "app/ExportProgressDialog.h"
#include "app/StatusBar.h"
#include "catalogue/inner_name.h"
#include "tests/common/fat_mount.h"
#include "tests/support/chm_writer.h"
#include "Fixture.h"
#include "ModalScript.h"
#include "TestSuites.h"
#include "WindowDriver.h"
#include "WorkerGate.h"

using vexmor::TExportProgressDialog;
using vexmor::TfrmMainForm;

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

QList<QToolButton*> Buttons(const TfrmMainForm& form) {
    return {form.tbOpen, form.tbExportThis, form.tbExportAll, form.tbAbout};
}

TExportProgressDialog* ProgressWindow(const TfrmMainForm& form) {
    return form.findChild<TExportProgressDialog*>(QStringLiteral("exportProgress"));
}

// Runs `action` on the window's thread once the export's worker is held at
// the gate, then opens the gate, whatever the action did.
class WhileWorkerHeld : public QObject {
public:
    WhileWorkerHeld(WorkerGate& gate, std::function<void()> action) : gate_(gate), action_(std::move(action)) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (gate_.Arrivals() == 0)
                return;
            timer_.stop();
            action_();
            ran_ = true;
            gate_.Open();
        });
        timer_.start(5);
    }
    ~WhileWorkerHeld() override { gate_.Open(); }
    bool Ran() const { return ran_; }

private:
    WorkerGate& gate_;
    std::function<void()> action_;
    QTimer timer_;
    bool ran_ = false;
};

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Answers the question that closing the window during an export asks,
// with the button whose text is `answer`.
ModalScript::Step AnswerQuitQuestion(const QString& answer) {
    return [answer](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            QTest::qFail("expected the question before quitting", __FILE__, __LINE__);
            if (modal != nullptr)
                modal->close();
            return;
        }
        QCOMPARE(box->text(), QStringLiteral("导出尚未完成，要取消并退出吗？"));
        for (QAbstractButton* button : box->buttons())
            if (button->text() == answer) {
                button->click();
                return;
            }
        box->reject();
        QTest::qFail("no such answer", __FILE__, __LINE__);
    };
}

QDragEnterEvent DragOf(const QString& path, QMimeData& data) {
    data.setUrls({QUrl::fromLocalFile(path)});
    return QDragEnterEvent(QPoint(200, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
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

    void exportsDoNothingWithoutSelectedRowOrOpenFile() {
        {
            ModalScript noDialogs;
            form_->tbExportAll->click();  // nothing open
            QCOMPARE(noDialogs.Unexpected(), 0);
        }
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        QVERIFY(form_->lvItems->selectedItems().isEmpty());
        {
            ModalScript noDialogs;
            form_->tbExportThis->click();  // no selected row
            QCOMPARE(noDialogs.Unexpected(), 0);
        }
        QCOMPARE(form_->lbError->count(), 0);
    }

    void exportThisWritesSelectedItemUnderItsBareName() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
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
        QCOMPARE(StatusText(*form_), QStringLiteral("文件:small.chm, 总共%1项, 已导出1项")
                                         .arg(form_->lvItems->topLevelItemCount()));
    }

    void exportAllWritesTreeAndRemembersFolder() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
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
        QCOMPARE(form_->LastExportDir, PathBytes(first) + "/");
        QCOMPARE(form_->lbError->count(), 0);

        QStringList expectedFiles;
        for (const ManifestEntry& entry : ReadManifest(DataPath("small.sha256"))) {
            expectedFiles.append(entry.name);
            // Joined by hand: QDir takes a name beginning with ':' for a resource.
            QCOMPARE(FileSha256(first + u'/' + entry.name), entry.sha256);
        }
        expectedFiles.sort();
        QCOMPARE(FilesBelow(first), expectedFiles);

        // The busy cursor was up for every stream, and is gone now.
        QVERIFY(!trace_->cursorAtStreamOpen.empty());
        for (int shape : trace_->cursorAtStreamOpen)
            QCOMPARE(shape, static_cast<int>(Qt::BusyCursor));
        QCOMPARE(CurrentCursorShape(), kNoOverride);
        QCOMPARE(StatusText(*form_), QStringLiteral("文件:small.chm, 总共%1项, 已导出%1项").arg(expectedFiles.size()));
        for (QToolButton* button : Buttons(*form_))
            QVERIFY(button->isEnabled());
    }

    void exportBookFromTheMenuWritesOneEpubFile() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QString target = Scratch("book.epub");
        // What stands at the target is replaced once the book is complete.
        QVERIFY(WriteFile(target, QByteArray(10, 'x')));
        ModalScript script({[&](QWidget* modal) {
            QFileDialog* dialog = AsFileDialog(modal);
            if (dialog == nullptr)
                return;
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QCOMPARE(FileNameText(modal), QStringLiteral("small.epub"));
            TypeAndAccept(modal, target);
        }});
        form_->acExportBook->trigger();
        QVERIFY(script.AllStepsRan());
        QCOMPARE(script.Unexpected(), 0);
        QCOMPARE(form_->lbError->count(), 0);
        QFile book(target);
        QVERIFY(book.open(QIODevice::ReadOnly));
        // A zip whose first entry is the stored mimetype.
        const QByteArray head = book.read(58);
        QVERIFY(head.startsWith("PK\x03\x04"));
        QCOMPARE(head.mid(30, 8), QByteArray("mimetype"));
        QCOMPARE(head.mid(38, 20), QByteArray("application/epub+zip"));
        // Nothing but the book beside it.
        QCOMPARE(QDir(scratch_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("book.epub")});
        for (QToolButton* button : Buttons(*form_))
            QVERIFY(button->isEnabled());
    }

    void secondExportAllPreselectsFirstFolderAndCancelForgetsIt() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QString first = Scratch("first");
        QVERIFY(QDir().mkpath(first));
        const std::string firstDir = PathBytes(first) + "/";

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
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
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
        // What came before the failing item stays on disk and is counted;
        // the blocking file is not one of them.
        const ManifestEntry system = EntryNamed(QStringLiteral("#SYSTEM"));
        QCOMPARE(FileSha256(target + QStringLiteral("/#SYSTEM")), system.sha256);
        const qsizetype written = FilesBelow(target).size() - 1;
        QCOMPARE(StatusText(*form_), QStringLiteral("文件:small.chm, 总共%1项, 已导出%2项, 导出失败")
                                         .arg(form_->lvItems->topLevelItemCount())
                                         .arg(written));
    }

    // What the worker throws comes back to the window's thread as one row.
    void failureOnWorkerBecomesOneRow_data() {
        QTest::addColumn<std::function<void()>>("toThrow");
        QTest::addColumn<QString>("row");
        QTest::newRow("message") << std::function<void()>([] { throw std::runtime_error("磁盘已满"); })
                                 << QStringLiteral("磁盘已满");
        QTest::newRow("no message") << std::function<void()>([] { throw 42; }) << QStringLiteral("未知异常");
    }
    void failureOnWorkerBecomesOneRow() {
        QFETCH(std::function<void()>, toThrow);
        QFETCH(QString, row);
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        trace_->onFirstRead = [toThrow](const std::string&) { toThrow(); };
        const QString target = Scratch("out");
        QVERIFY(QDir().mkpath(target));
        ModalScript script({[&](QWidget* modal) { TypeAndAccept(modal, target); }});
        form_->tbExportAll->click();
        QVERIFY(script.AllStepsRan());
        QCOMPARE(ErrorRows(*form_).size(), 1);
        QVERIFY2(ErrorRows(*form_).first().contains(row), qPrintable(ErrorRows(*form_).first()));
        QVERIFY(StatusText(*form_).endsWith(QStringLiteral("已导出0项, 导出失败")));
        QCOMPARE(CurrentCursorShape(), kNoOverride);
    }

    void cancelStopsAfterCurrentFileWhileWindowRepaints() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        WorkerGate gate;
        trace_->onFirstRead = [&gate](const std::string&) { gate.Pass(); };
        PaintCounter paints;
        form_->lvItems->viewport()->installEventFilter(&paints);
        const QString target = Scratch("out");
        QVERIFY(QDir().mkpath(target));

        WhileWorkerHeld duringExport(gate, [&] {
            QTRY_VERIFY(ProgressWindow(*form_) && ProgressWindow(*form_)->isVisible());
            TExportProgressDialog* progress = ProgressWindow(*form_);
            QLabel* counts = progress->findChild<QLabel*>(QStringLiteral("counts"));
            QVERIFY(counts != nullptr);
            QTRY_VERIFY(counts->text().startsWith(QStringLiteral("1 / ")));
            for (QToolButton* button : Buttons(*form_))
                QVERIFY(!button->isEnabled());
            QCOMPARE(CurrentCursorShape(), static_cast<int>(Qt::BusyCursor));
            paints.paints = 0;
            form_->lvItems->viewport()->update();
            QTRY_VERIFY(paints.paints > 0);
            progress->CancelButton()->click();
            QVERIFY(!progress->CancelButton()->isEnabled());
        });
        form_->ExportAll(PathBytes(target));
        QVERIFY(duringExport.Ran());

        // The file being written when Cancel came is complete, and the last.
        const QStringList written = FilesBelow(target);
        QCOMPARE(written.size(), 1);
        QCOMPARE(FileSha256(target + u'/' + written.first()), EntryNamed(written.first()).sha256);
        QCOMPARE(gate.Arrivals(), 1);
        QCOMPARE(StatusText(*form_), QStringLiteral("文件:small.chm, 总共%1项, 已导出1项, 已取消")
                                         .arg(form_->lvItems->topLevelItemCount()));
        QCOMPARE(form_->lbError->count(), 0);
        QCOMPARE(CurrentCursorShape(), kNoOverride);
        QVERIFY(ProgressWindow(*form_) == nullptr);
        for (QToolButton* button : Buttons(*form_))
            QVERIFY(button->isEnabled());
    }

    // The export reads the catalogue: nothing may open another file meanwhile.
    void catalogueStaysWhileExportRuns() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QString other = Scratch("other.chm");
        QVERIFY(QFile::copy(DataPath("small.chm"), other));
        WorkerGate gate;
        trace_->onFirstRead = [&gate](const std::string&) { gate.Pass(); };
        const std::string openFile = form_->Extractor->FileName();

        WhileWorkerHeld duringExport(gate, [&] {
            form_->OpenFile(PathBytes(other));
            QCOMPARE(form_->Extractor->FileName(), openFile);
            QMimeData data;
            QDragEnterEvent drag = DragOf(other, data);
            QApplication::sendEvent(form_.get(), &drag);
            QVERIFY(!drag.isAccepted());
            form_->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(form_.get()));
            QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
            QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        });
        QVERIFY(QDir().mkpath(Scratch("out")));
        ModalScript noDialogs;
        form_->ExportAll(PathBytes(Scratch("out")));
        QVERIFY(duringExport.Ran());
        QCOMPARE(noDialogs.Unexpected(), 0);
        QCOMPARE(form_->Extractor->FileName(), openFile);
        QCOMPARE(trace_->componentsCreated, 1);
        QCOMPARE(form_->lbError->count(), 0);
    }

    // Onto FAT, which refuses ':' in names: every stream is written, and each
    // one written under a substitute is a note row, not a failure.
    void exportsOntoFatNoteEachRenamedStream() {
        const vexmor::test::FatMount fat;
        if (!fat.Mounted())
            QSKIP(fat.WhyNot().c_str());
        // ASCII names only: FAT through FUSE (fusefat) keeps no others.
        using vexmor::testsupport::ToBytes;
        const vexmor::testsupport::ChmImage image = vexmor::testsupport::BuildChm(
            {{"/html/a:b.html", ToBytes("odd"), 1}, {"/ok.html", ToBytes("fine"), 1}, {"/#SYSTEM", ToBytes("s"), 0}});
        const QString chm = Scratch("odd.chm");
        QVERIFY(WriteFile(chm, QByteArray(reinterpret_cast<const char*>(image.bytes.data()),
                                          static_cast<qsizetype>(image.bytes.size()))));
        QVERIFY(OpenDirectly(*form_, chm));
        const vexmor::TChmItems& items = form_->Extractor->Items();
        QStringList expected;
        std::optional<std::size_t> plain;
        for (std::size_t i = 0; i < items.Count(); ++i) {
            const std::string inner = vexmor::InnerPathAndName(items[i].Path, items[i].Name);
            if (inner == "html/a:b.html")
                expected << QString::fromStdString("已改名保存-html/a:b.html → html/a%3Ab.html (目标不接受原名中的字符)");
            else if (inner.starts_with("::"))
                expected << QString::fromStdString("已改名保存-" + inner + " → %3A%3A" + inner.substr(2) +
                                                   " (目标不接受原名中的字符)");
            else if (!plain && items[i].Path.empty())
                plain = i;
        }
        QVERIFY(!expected.isEmpty());
        QVERIFY(plain.has_value());

        form_->ExportAll(fat / "out");
        QStringList rows = ErrorRows(*form_);
        rows.sort();
        expected.sort();
        QCOMPARE(rows, expected);
        QCOMPARE(StatusText(*form_), QStringLiteral("文件:odd.chm, 总共%1项, 已导出%1项").arg(items.Count()));
        QVERIFY(QFile::exists(QString::fromStdString(fat / "out/html/a%3Ab.html")));

        form_->lbError->clear();
        form_->ExportItem(*plain, fat / "a:b.bin");
        QCOMPARE(ErrorRows(*form_),
                 QStringList{QString::fromStdString("已改名保存-" + items[*plain].Name +
                                                    " → a%3Ab.bin (目标不接受原名中的字符)")});
        QVERIFY(QFile::exists(QString::fromStdString(fat / "a%3Ab.bin")));
    }

    // Closing asks first; only "quit" stops the export, after the file being
    // written, and then closes the window. Return and Esc keep exporting.
    void closingDuringExportAsksFirst_data() {
        QTest::addColumn<ModalScript::Step>("answer");
        QTest::addColumn<bool>("quits");
        QTest::newRow("quit") << AnswerQuitQuestion(QStringLiteral("取消导出并退出")) << true;
        QTest::newRow("go on") << AnswerQuitQuestion(QStringLiteral("继续导出")) << false;
        QTest::newRow("Return") << ModalScript::Step([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); })
                                << false;
        QTest::newRow("Esc") << ModalScript::Step([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); })
                             << false;
    }
    void closingDuringExportAsksFirst() {
        QFETCH(ModalScript::Step, answer);
        QFETCH(bool, quits);
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        WorkerGate gate;
        trace_->onFirstRead = [&gate](const std::string&) { gate.Pass(); };
        const QString target = Scratch("out");
        QVERIFY(QDir().mkpath(target));

        ModalScript script({answer});
        WhileWorkerHeld duringExport(gate, [&] {
            QVERIFY(!form_->close());
            QVERIFY(form_->isVisible());
        });
        form_->ExportAll(PathBytes(target));
        QVERIFY(duringExport.Ran());
        QVERIFY(script.AllStepsRan());
        QCOMPARE(script.Unexpected(), 0);
        const qsizetype items = form_->lvItems->topLevelItemCount();
        if (quits) {
            QTRY_VERIFY(!form_->isVisible());
            QCOMPARE(FilesBelow(target).size(), 1);
            form_.reset();
            QCOMPARE(trace_->Alive(), std::size_t{0});
        } else {
            QTest::qWait(50);
            QVERIFY(form_->isVisible());
            QCOMPARE(FilesBelow(target).size(), items);
            QCOMPARE(StatusText(*form_), QStringLiteral("文件:small.chm, 总共%1项, 已导出%1项").arg(items));
        }
    }

    // The progress window comes up while the user may be typing: Return and
    // Space must not cancel; Esc does.
    void onlyDeliberateKeysCancel() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        WorkerGate gate;
        trace_->onFirstRead = [&gate](const std::string&) { gate.Pass(); };
        const QString target = Scratch("out");
        QVERIFY(QDir().mkpath(target));

        WhileWorkerHeld duringExport(gate, [&] {
            QTRY_VERIFY(ProgressWindow(*form_) && ProgressWindow(*form_)->isVisible());
            TExportProgressDialog* progress = ProgressWindow(*form_);
            progress->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(progress));
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
                QWidget* focus = QApplication::focusWidget();
                QTest::keyClick(focus != nullptr ? focus : progress, key);
                QVERIFY2(progress->CancelButton()->isEnabled(), qPrintable(QKeySequence(key).toString()));
            }
            QTest::keyClick(progress, Qt::Key_Escape);
            QVERIFY(!progress->CancelButton()->isEnabled());
        });
        form_->ExportAll(PathBytes(target));
        QVERIFY(duringExport.Ran());
        QVERIFY(StatusText(*form_).endsWith(QStringLiteral(", 已取消")));
    }

    // A failure of the system's (in English) names the stream after our words.
    void failedExportThisNamesTheStream() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        QTreeWidgetItem* row = RowNamed(form_->lvItems, QStringLiteral("html/page1.html"));
        QVERIFY(row != nullptr);
        const auto index = static_cast<std::size_t>(form_->lvItems->indexOfTopLevelItem(row));
        vexmor::RunGuarded([&] { form_->ExportItem(index, PathBytes(Scratch("no such folder/page1.html"))); });
        QCOMPARE(ErrorRows(*form_), QStringList{QStringLiteral("导出失败-html/page1.html: File not found")});
    }

    void exportThisOfLargeStreamShowsProgressWithCancel() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        QTreeWidgetItem* row = RowNamed(form_->lvItems, QStringLiteral("html/big.html"));
        QVERIFY(row != nullptr);
        form_->lvItems->setCurrentItem(row);
        WorkerGate gate;
        trace_->onFirstRead = [&gate](const std::string&) { gate.Pass(); };
        const QString target = Scratch("big.html");

        WhileWorkerHeld duringExport(gate, [&] {
            QTRY_VERIFY(ProgressWindow(*form_) && ProgressWindow(*form_)->isVisible());
            QVERIFY(ProgressWindow(*form_)->CancelButton()->isVisible());
            QVERIFY(ProgressWindow(*form_)->CancelButton()->isEnabled());
            QVERIFY(!form_->tbExportThis->isEnabled());
        });
        ModalScript script({[&](QWidget* modal) { TypeAndAccept(modal, target); }});
        form_->tbExportThis->click();
        QVERIFY(script.AllStepsRan());
        QVERIFY(duringExport.Ran());
        QCOMPARE(FileSha256(target), EntryNamed(QStringLiteral("html/big.html")).sha256);
        QVERIFY(form_->tbExportThis->isEnabled());
    }

    // The file is written aside, so Export this stops within the copy: what
    // stood at the target stays byte for byte, and nothing else is left.
    void cancelledExportThisLeavesTargetAsItWas_data() {
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<bool>("byClosingWindow");
        QTest::newRow("Cancel, replacing a file") << true << false;
        QTest::newRow("Cancel, new name") << false << false;
        QTest::newRow("closing the window, replacing a file") << true << true;
    }
    void cancelledExportThisLeavesTargetAsItWas() {
        QFETCH(bool, targetExists);
        QFETCH(bool, byClosingWindow);
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        const QString target = Scratch("big.html");
        const QByteArray old = QByteArray("the old file\n").repeated(1000);
        if (targetExists)
            QVERIFY(WriteFile(target, old));
        QTreeWidgetItem* row = RowNamed(form_->lvItems, QStringLiteral("html/big.html"));
        QVERIFY(row != nullptr);
        const auto index = static_cast<std::size_t>(form_->lvItems->indexOfTopLevelItem(row));
        // Held at the stream's first read: the target file is being made.
        WorkerGate gate;
        trace_->onFirstRead = [&gate](const std::string&) { gate.Pass(); };

        ModalScript script(byClosingWindow ? std::vector<ModalScript::Step>{AnswerQuitQuestion(QStringLiteral("取消导出并退出"))}
                                           : std::vector<ModalScript::Step>{});
        WhileWorkerHeld duringExport(gate, [&] {
            QTRY_VERIFY(ProgressWindow(*form_) && ProgressWindow(*form_)->isVisible());
            if (byClosingWindow) {
                QVERIFY(!form_->close());
            } else {
                ProgressWindow(*form_)->CancelButton()->click();
                QVERIFY(!ProgressWindow(*form_)->CancelButton()->isEnabled());
            }
        });
        form_->ExportItem(index, PathBytes(target));
        QVERIFY(duringExport.Ran());
        QVERIFY(script.AllStepsRan());
        QCOMPARE(script.Unexpected(), 0);

        QCOMPARE(FilesBelow(scratch_->path()), targetExists ? QStringList{"big.html"} : QStringList{});
        if (targetExists) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), old);
        }
        QCOMPARE(StatusText(*form_), QStringLiteral("文件:small.chm, 总共%1项, 已导出0项, 已取消")
                                         .arg(form_->lvItems->topLevelItemCount()));
        QCOMPARE(form_->lbError->count(), 0);
        QCOMPARE(CurrentCursorShape(), kNoOverride);
        QVERIFY(ProgressWindow(*form_) == nullptr);
        if (byClosingWindow) {
            QTRY_VERIFY(!form_->isVisible());
            form_.reset();
            QCOMPARE(trace_->Alive(), std::size_t{0});
        } else {
            for (QToolButton* button : Buttons(*form_))
                QVERIFY(button->isEnabled());
        }
    }

    // Qt makes the first row current when the list takes the focus, without
    // selecting it: that is no choice of the user's.
    void exportThisTakesSelectedRowNotCurrent() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
        form_->activateWindow();
        form_->lvItems->setFocus();
        QTRY_VERIFY(form_->lvItems->currentIndex().isValid());
        QVERIFY(form_->lvItems->selectedItems().isEmpty());
        {
            ModalScript noDialogs;
            form_->tbExportThis->click();
            QCOMPARE(noDialogs.Unexpected(), 0);
        }

        form_->lvItems->setCurrentItem(RowNamed(form_->lvItems, QStringLiteral("index.html")));
        // The selection, not the current row, decides.
        form_->lvItems->setCurrentIndex(form_->lvItems->model()->index(0, 0));
        form_->lvItems->selectionModel()->select(form_->lvItems->model()->index(1, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QString expected = QFileInfo(form_->lvItems->topLevelItem(1)->text(0)).fileName();
        ModalScript script({[&](QWidget* modal) {
            QCOMPARE(FileNameText(modal), expected);
            Cancel(modal);
        }});
        form_->tbExportThis->click();
        QVERIFY(script.AllStepsRan());
    }
};

std::unique_ptr<QObject> MakeExportCommandTest() {
    return std::make_unique<ExportCommandTest>();
}

#include "ExportCommandTest.moc"
