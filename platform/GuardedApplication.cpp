#include "GuardedApplication.h"

#include <cstdio>
#include <exception>
#include <new>

namespace platform {

namespace {
GuardedApplication::Reporter &reporter()
{
    static GuardedApplication::Reporter r;
    return r;
}
bool reporting = false;
} // namespace

GuardedApplication::GuardedApplication(int &argc, char **argv) : QApplication(argc, argv) {}

void GuardedApplication::prepareDisplay()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

GuardedApplication::~GuardedApplication()
{
    reporter() = nullptr;
}

void GuardedApplication::setReporter(Reporter r)
{
    reporter() = std::move(r);
}

QString GuardedApplication::unknownErrorText()
{
    return QStringLiteral("Unbekannter Fehler");
}

void GuardedApplication::report(const QString &text)
{
    std::fprintf(stderr, "zielkron: %s\n", text.toLocal8Bit().constData());
    // An error while the box for an earlier one is open is only written to stderr: one box at a
    // time, and never a loop of boxes.
    if (reporting || !reporter())
        return;
    reporting = true;
    try {
        reporter()(text);
    } catch (...) {
    }
    reporting = false;
}

bool GuardedApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc &) {
        report(QStringLiteral("Nicht genügend Arbeitsspeicher für diese Aktion."));
    } catch (const std::exception &e) {
        report(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        report(unknownErrorText());
    }
    return false;
}

} // namespace platform
