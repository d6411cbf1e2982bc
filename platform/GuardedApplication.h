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
