#pragma once
// The application object of the desk. No exception that escapes an event handler ends the
// program: it is caught where the event loop delivers the event, handed to the reporter (the
// desk shows its standard error box with the error's text) and the desk goes on running.

#include <QApplication>

#include <functional>

namespace platform {

class GuardedApplication : public QApplication {
public:
    GuardedApplication(int &argc, char **argv);

    // Called before the application object exists. The desk repaints a few small rectangles a
    // hundred times a second while a race runs; on X11 those go to the server as plain image
    // requests, not through shared memory, which would cost a round trip to the server before
    // every frame. A QT_XCB_NO_MITSHM already set is left as it is.
    static void prepareDisplay();
    ~GuardedApplication() override;

    bool notify(QObject *receiver, QEvent *event) override;

    // Receives the text of every exception caught; without one the text goes to stderr.
    using Reporter = std::function<void(const QString &text)>;
    static void setReporter(Reporter reporter);

    // The text shown for an exception of unknown type.
    static QString unknownErrorText();

private:
    static void report(const QString &text);
};

} // namespace platform
