#include "ModalScript.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

ModalScript::ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Poll);
    timer_.start(5);
}

void ModalScript::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        current_ = nullptr;
        return;
    }
    if (modal == current_ || modal == stepTarget_)
        return;  // being handled, or a step acted on it and it is still closing
    current_ = modal;
    if (next_ < steps_.size()) {
        // The step runs outside this slot: Qt does not fire a timer again
        // while its slot runs, and a step may open a nested modal window
        // that this poll must still see.
        stepTarget_ = modal;
        QTimer::singleShot(0, this, [this, step = steps_[next_++], target = QPointer<QWidget>(modal)] {
            if (target)
                step(target);
            if (target && target->isVisible()) {
                // A step that failed part-way must not leave the command blocked.
                QTest::qFail("a step left its dialog open", __FILE__, __LINE__);
                if (auto* dialog = qobject_cast<QDialog*>(target.data()))
                    dialog->reject();
                else
                    target->close();
            }
            stepTarget_ = nullptr;
        });
    } else {
        ++unexpected_;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

namespace {

void Close(QWidget* modal) {
    if (!modal->isVisible())
        return;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

QPushButton* AcceptButton(QFileDialog* dialog) {
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (box == nullptr)
        return nullptr;
    if (QPushButton* open = box->button(QDialogButtonBox::Open))
        return open;
    return box->button(QDialogButtonBox::Save);
}

QLineEdit* FileNameBox(QFileDialog* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

}  // namespace

QFileDialog* AsFileDialog(QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) {
        QTest::qFail(qPrintable(QStringLiteral("expected a file dialog, got %1").arg(QString::fromLatin1(modal->metaObject()->className()))),
                     __FILE__, __LINE__);
        Close(modal);
    }
    return dialog;
}

void TypeAndAccept(QWidget* modal, const QString& text) {
    QFileDialog* dialog = AsFileDialog(modal);
    if (dialog == nullptr)
        return;
    QLineEdit* box = FileNameBox(dialog);
    if (box == nullptr) {
        QTest::qFail("file dialog without a file name box", __FILE__, __LINE__);
        Close(dialog);
        return;
    }
    // As a user types: into the focused box of the active dialog. Without
    // focus the dialog keeps an earlier list selection, which beats the text.
    dialog->activateWindow();
    const bool focused = QTest::qWaitFor([box] {
        box->setFocus(Qt::OtherFocusReason);
        return box->hasFocus();
    });
    if (!focused)
        QTest::qFail("the file name box did not take the focus", __FILE__, __LINE__);
    box->setText(text);
    QTest::keyClick(box, Qt::Key_Return);
    if (dialog->isVisible()) {
        QTest::qFail(qPrintable(QStringLiteral("the dialog did not take \"%1\"").arg(text)), __FILE__, __LINE__);
        Close(dialog);
    }
}

void Accept(QWidget* modal) {
    QFileDialog* dialog = AsFileDialog(modal);
    if (dialog == nullptr)
        return;
    QPushButton* button = AcceptButton(dialog);
    if (button == nullptr || !button->isEnabled()) {
        QTest::qFail("the accept button is missing or disabled", __FILE__, __LINE__);
        Close(dialog);
        return;
    }
    button->click();
    if (dialog->isVisible()) {
        QTest::qFail("the dialog did not close on accept", __FILE__, __LINE__);
        Close(dialog);
    }
}

void Cancel(QWidget* modal) {
    if (QFileDialog* dialog = qobject_cast<QFileDialog*>(modal)) {
        auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (QPushButton* cancel = box ? box->button(QDialogButtonBox::Cancel) : nullptr)
            cancel->click();
    }
    Close(modal);
}

QString FileNameText(QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QLineEdit* box = dialog ? FileNameBox(dialog) : nullptr;
    return box ? box->text() : QString();
}
