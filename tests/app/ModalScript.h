// Drives the modal dialogs that a command opens, from a timer, one step per
// dialog in the order they appear. A modal window beyond the steps is
// rejected and counted, so that an unexpected question fails the test
// instead of blocking it.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <vector>

class QFileDialog;

class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit ModalScript(std::vector<Step> steps = {});

    bool AllStepsRan() const { return next_ == steps_.size(); }
    int Unexpected() const { return unexpected_; }

private:
    void Poll();

    QTimer timer_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QPointer<QWidget> current_;
    QPointer<QWidget> stepTarget_;
    int unexpected_ = 0;
};

// Step helpers. Each one closes the dialog it is given, whatever happens,
// and records a test failure when the dialog is not what it expects.
QFileDialog* AsFileDialog(QWidget* modal);
// Types `text` into the file name box and presses Return.
void TypeAndAccept(QWidget* modal, const QString& text);
// Presses the accept button as it stands.
void Accept(QWidget* modal);
void Cancel(QWidget* modal);
// Text of the file name box.
QString FileNameText(QWidget* modal);
