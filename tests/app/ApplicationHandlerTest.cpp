// The application-wide handler: what leaves an event handler becomes a row
// of the error list, a silent abort leaves none, nothing reaches Qt.
#include <QCoreApplication>
#include <QEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <stdexcept>

#include "app/EAbort.h"
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
