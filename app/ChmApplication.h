// The application object and its exception hook. Qt has no application-wide
// exception handler, and Qt Widgets is built without exception support, so
// no exception may unwind through its frames: the application catches what
// leaves an event handler, command handlers are run through RunGuarded, and
// both hand the exception to the handler that a window bound through its
// TApplicationEvents.
#pragma once

#include <QApplication>
#include <QObject>
#include <QPointer>

#include <exception>
#include <functional>

namespace vexmor {

class TApplicationEvents : public QObject {
public:
    using ExceptionHandler = std::function<void(const std::exception&)>;

    // Binds itself to the running TChmApplication; the last one created wins.
    explicit TApplicationEvents(QObject* owner);
    ~TApplicationEvents() override;

    ExceptionHandler OnException;
};

class TChmApplication : public QApplication {
public:
    TChmApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Drops a silent abort, otherwise gives the exception to the bound
    // handler (or to the log when none is bound). Never throws.
    void HandleException(std::exception_ptr error) noexcept;

    static TChmApplication* Instance();

private:
    friend class TApplicationEvents;
    QPointer<TApplicationEvents> events_;
};

// Passes `error` to the running application's handler.
void HandleApplicationException(std::exception_ptr error) noexcept;

// Runs `handler`, passing whatever it throws to the application's handler.
template <typename Handler>
void RunGuarded(Handler&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

}  // namespace vexmor
