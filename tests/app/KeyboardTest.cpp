// The window worked from the keyboard: Tab through the toolbar, shortcuts
// for every command, type-ahead find in the item list.
#include <QFileDialog>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "Fixture.h"
#include "ModalScript.h"
#include "TestSuites.h"
#include "WindowDriver.h"

using vexmor::TfrmMainForm;

namespace {

QString WindowKind(QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        if (dialog->acceptMode() == QFileDialog::AcceptSave)
            return QStringLiteral("save");
        return dialog->fileMode() == QFileDialog::Directory ? QStringLiteral("folder") : QStringLiteral("open");
    }
    if (qobject_cast<QMessageBox*>(modal) != nullptr)
        return QStringLiteral("about");
    return QString::fromLatin1(modal->metaObject()->className());
}

// Types `text` as a keyboard or input method delivers it, one character
// per key press; QTest's own typing knows Latin-1 keys only.
void Type(QWidget* widget, const QString& text) {
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &release);
    }
}

}  // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMainForm> form_;

    void OpenSmall() {
        QVERIFY(OpenDirectly(*form_, DataPath("small.chm")));
    }

private slots:
    void init() {
        form_ = ShowMainForm(std::make_shared<StorageTrace>());
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    }
    void cleanup() { form_.reset(); }

    void tooltipsNameCommandAndShortcut() {
        QCOMPARE(form_->tbOpen->toolTip(), QStringLiteral("打开 (Ctrl+O)"));
        QCOMPARE(form_->tbExportThis->toolTip(), QStringLiteral("导出选中项 (Ctrl+S)"));
        // Its menu's site export is named too.
        QCOMPARE(form_->tbExportAll->toolTip(), QStringLiteral("全部导出 (Ctrl+Shift+S)\n导出为网页… (Ctrl+Shift+W)\n导出为电子书… (Ctrl+Shift+E)"));
        QCOMPARE(form_->tbAbout->toolTip(), QStringLiteral("关于 (F1)"));
    }

    void tabReachesEveryButtonAndSpaceRunsIt() {
        form_->lbError->setFocus();
        const QList<QWidget*> order{form_->tbOpen, form_->tbExportThis, form_->tbExportAll, form_->tbAbout,
                                    form_->lvItems, form_->lbError};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
        form_->tbAbout->setFocus();
        ModalScript script({[](QWidget* modal) {
            QCOMPARE(WindowKind(modal), QStringLiteral("about"));
            Cancel(modal);
        }});
        QTest::keyClick(form_->tbAbout, Qt::Key_Space);
        QVERIFY(script.AllStepsRan());
    }

    void shortcutRunsItsCommand_data() {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("window");
        QTest::newRow("Ctrl+O open") << QKeySequence(Qt::CTRL | Qt::Key_O) << "open";
        QTest::newRow("Ctrl+S export this") << QKeySequence(Qt::CTRL | Qt::Key_S) << "save";
        QTest::newRow("Ctrl+Shift+S export all") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S) << "folder";
        QTest::newRow("F1 about") << QKeySequence(Qt::Key_F1) << "about";
    }
    void shortcutRunsItsCommand() {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, window);
        OpenSmall();
        form_->lvItems->setCurrentItem(form_->lvItems->topLevelItem(0));
        form_->lvItems->setFocus();
        ModalScript script({[&](QWidget* modal) {
            QCOMPARE(WindowKind(modal), window);
            Cancel(modal);
        }});
        QTest::keySequence(form_.get(), keys);
        QVERIFY(script.AllStepsRan());
        QCOMPARE(script.Unexpected(), 0);
    }

    void ctrlQClosesWindow() {
        QTest::keySequence(form_.get(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QTRY_VERIFY(!form_->isVisible());
    }

    void typingFindsRow_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("row");
        QTest::newRow("start of a name") << "ind" << "index.html";
        QTest::newRow("into a folder") << "html/sub/" << "html/sub/deeper/exact65537.html";
        QTest::newRow("other letters") << "中" << "中文/页面.html";
    }
    void typingFindsRow() {
        QFETCH(QString, typed);
        QFETCH(QString, row);
        OpenSmall();
        form_->lvItems->setFocus();
        Type(form_->lvItems, typed);
        const QList<QTreeWidgetItem*> selected = form_->lvItems->selectedItems();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first()->text(0), row);
    }
};

std::unique_ptr<QObject> MakeKeyboardTest() {
    return std::make_unique<KeyboardTest>();
}

#include "KeyboardTest.moc"
