#include "app/ChmApplication.h"

#include <QWidget>
#include <QtGlobal>

#include <stdexcept>

#include "app/EAbort.h"

namespace vexmor {

namespace {

// Text of a thrown object that is no std::exception and so has no message.
constexpr const char* kUnknownException = "未知异常";

}  // namespace

TApplicationEvents::TApplicationEvents(QObject* owner) : QObject(owner) {
    if (TChmApplication* app = TChmApplication::Instance())
        app->events_ = this;
}

TApplicationEvents::~TApplicationEvents() {
    TChmApplication* app = TChmApplication::Instance();
    if (app && app->events_ == this)
        app->events_ = nullptr;
}

TChmApplication::TChmApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TChmApplication* TChmApplication::Instance() {
    return dynamic_cast<TChmApplication*>(QCoreApplication::instance());
}

bool TChmApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}

void TChmApplication::HandleException(std::exception_ptr error) noexcept {
    try {
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
            return;
        } catch (const std::exception& e) {
            if (QWidget* grabber = QWidget::mouseGrabber())
                grabber->releaseMouse();
            if (events_ && events_->OnException)
                events_->OnException(e);
            else
                qWarning("%s", e.what());
        } catch (...) {
            HandleException(std::make_exception_ptr(std::runtime_error(kUnknownException)));
        }
    } catch (...) {
        // The handler itself failed (out of memory, most likely); there is
        // nowhere left to report it, and it must not reach the event loop.
    }
}

void HandleApplicationException(std::exception_ptr error) noexcept {
    if (TChmApplication* app = TChmApplication::Instance())
        app->HandleException(error);
    else
        qWarning("exception outside TChmApplication");
}

}  // namespace vexmor
