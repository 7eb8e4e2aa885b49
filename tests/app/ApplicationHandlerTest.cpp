// The application-wide handler: what leaves an event handler becomes a row
// of the error list, a silent abort leaves none, nothing reaches Qt.
#include <QCoreApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

#include <functional>
#include <stdexcept>

#include "app/EAbort.h"
#include "app/ErrorRows.h"
#include "app/Splitter.h"
#include "ModalScript.h"
#include "TestSuites.h"
#include "WindowDriver.h"

using vexmor::EAbort;
using vexmor::TfrmMainForm;

namespace {

// An object whose event handler throws what it is told to.
class Thrower : public QObject {
public:
    explicit Thrower(std::function<void()> toThrow) : toThrow_(std::move(toThrow)) {}
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            toThrow_();
        return QObject::event(event);
    }

private:
    std::function<void()> toThrow_;
};

void DeliverThrowing(std::function<void()> toThrow) {
    Thrower thrower(std::move(toThrow));
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &event);
}

// Presses `key` on the message box; it must close the box.
void PressOnMessageBox(QWidget* modal, Qt::Key key) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
        QTest::qFail("expected the About box", __FILE__, __LINE__);
        return;
    }
    QCOMPARE(box->windowTitle(), QStringLiteral("CHM 抽取器"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->buttons().size(), 1);
    QVERIFY(box->text().endsWith(u'\n'));
    QVERIFY(box->text().trimmed().size() > 0);
    QTest::keyClick(box, key);
    QVERIFY2(!box->isVisible(), "the key did not close the About box");
}

}  // namespace

class ApplicationHandlerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmMainForm> form_;

private slots:
    void init() { form_ = ShowMainForm(std::make_shared<StorageTrace>()); }
    void cleanup() { form_.reset(); }

    void exceptionLeavingHandlerBecomesLastRow_data() {
        QTest::addColumn<std::function<void()>>("toThrow");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("message") << std::function<void()>([] { throw std::runtime_error("磁盘已满"); })
                                 << QStringList{"earlier", "磁盘已满"};
        QTest::newRow("silent abort") << std::function<void()>([] { throw EAbort(); })
                                      << QStringList{"earlier"};
        QTest::newRow("no message") << std::function<void()>([] { throw 42; })
                                    << QStringList{"earlier", "未知异常"};
    }
    void exceptionLeavingHandlerBecomesLastRow() {
        QFETCH(std::function<void()>, toThrow);
        QFETCH(QStringList, rows);
        DeliverThrowing([] { throw std::runtime_error("earlier"); });

        DeliverThrowing(toThrow);

        QCOMPARE(ErrorRows(*form_), rows);
    }

    // No dialog reports a failure, so each new row must come into view:
    // scrolled to (without selecting it), in an error list brought back from
    // collapsed to its smallest kept height.
    void newRowComesIntoViewUnselected_data() {
        QTest::addColumn<bool>("collapsed");
        QTest::addColumn<int>("height");
        QTest::newRow("list as it starts") << false << 65;
        QTest::newRow("list collapsed") << true << 31;
    }
    void newRowComesIntoViewUnselected() {
        QFETCH(bool, collapsed);
        QFETCH(int, height);
        if (collapsed) {
            form_->Splitter1->SetLowerPaneHeight(0);
            QCOMPARE(form_->Splitter1->LowerPaneHeight(), 0);
        }
        for (int i = 0; i < 40; ++i) {
            DeliverThrowing([i] { throw std::runtime_error("failure " + std::to_string(i)); });
            QApplication::processEvents();
            QCOMPARE(form_->Splitter1->LowerPaneHeight(), height);
            QCOMPARE(form_->lbError->height(), height);
            const QRect last = form_->lbError->visualItemRect(form_->lbError->item(i));
            QVERIFY2(form_->lbError->viewport()->rect().contains(last), qPrintable(QString::number(i)));
        }
        QCOMPARE(form_->lbError->count(), 40);
        QVERIFY(form_->lbError->selectedItems().isEmpty());
        QCOMPARE(form_->lbError->currentRow(), -1);
    }

    // Each row starts with our own words and names its file or stream; the
    // system's English text stays as the detail, without saying the name twice.
    void rowsNameTheirSubjectInChineseFirst_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("row");
        QTest::newRow("open, name inside the detail")
            << true << "/d/a.chm" << "File or element not found: /d/a.chm (No such file or directory)"
            << "不能打开帮助文件-/d/a.chm: File or element not found (No such file or directory)";
        QTest::newRow("open, detail without the name")
            << true << "/d/x.txt" << "Not a compiled HTML help file: the ITSF signature is missing"
            << "不能打开帮助文件-/d/x.txt: Not a compiled HTML help file: the ITSF signature is missing";
        QTest::newRow("export, name at the end") << false << "html/a.html" << "Disk full: html/a.html"
                                                 << "导出失败-html/a.html: Disk full";
        QTest::newRow("export, a longer name is not this one")
            << false << "html/a" << "Disk full: html/a.html" << "导出失败-html/a: Disk full: html/a.html";
        QTest::newRow("export, detail without the name") << false << "b.bin" << "I/O error 5"
                                                         << "导出失败-b.bin: I/O error 5";
        QTest::newRow("export, before any item") << false << "" << "Damaged file" << "导出失败: Damaged file";
        QTest::newRow("export, our own refusal as it is")
            << false << "html/a.html" << "两项的目标是同一文件-a.html, A.html" << "两项的目标是同一文件-a.html, A.html";
    }
    void rowsNameTheirSubjectInChineseFirst() {
        QFETCH(bool, open);
        QFETCH(QString, subject);
        QFETCH(QString, message);
        QFETCH(QString, row);
        const std::string made = open ? vexmor::OpenFailureRow(subject.toStdString(), message.toStdString())
                                      : vexmor::ExportFailureRow(subject.toStdString(), message.toStdString());
        QCOMPARE(QString::fromStdString(made), row);
    }

    // A row wider than the list shows its whole text as a tool tip.
    void cutRowShowsWholeText_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("tip");
        QTest::newRow("cut") << QStringLiteral("导出失败-html/a/very/long/inner/path/of/some/page/in/the/help/file.html: "
                                               "No space left on the device")
                             << true;
        QTest::newRow("fits") << QStringLiteral("磁盘已满") << false;
    }
    void cutRowShowsWholeText() {
        QFETCH(QString, row);
        QFETCH(bool, tip);
        DeliverThrowing([row] { throw std::runtime_error(row.toStdString()); });
        QApplication::processEvents();
        QListWidgetItem* item = form_->lbError->item(0);
        QVERIFY(item != nullptr);
        QWidget* viewport = form_->lbError->viewport();
        const QPoint where = form_->lbError->visualItemRect(item).topLeft() + QPoint(20, 3);
        QHelpEvent help(QEvent::ToolTip, where, viewport->mapToGlobal(where));
        QApplication::sendEvent(viewport, &help);
        QCOMPARE(QToolTip::isVisible(), tip);
        if (tip)
            QCOMPARE(QToolTip::text(), row);
        QToolTip::hideText();
    }

    void exceptionAfterWindowIsGoneStaysInsideApplication() {
        form_.reset();
        DeliverThrowing([] { throw std::runtime_error("no window"); });
    }

    void aboutBoxAnswersEnterAndEsc() {
        ModalScript script({
            [](QWidget* modal) { PressOnMessageBox(modal, Qt::Key_Escape); },
            [](QWidget* modal) { PressOnMessageBox(modal, Qt::Key_Return); },
        });
        form_->tbAbout->click();
        form_->tbAbout->click();
        QVERIFY(script.AllStepsRan());
        QCOMPARE(form_->lbError->count(), 0);
    }
};

std::unique_ptr<QObject> MakeApplicationHandlerTest() {
    return std::make_unique<ApplicationHandlerTest>();
}

#include "ApplicationHandlerTest.moc"
