#pragma once
// The desk speaks German and writes numbers, dates and times as the user's locale does, or as
// in Germany when no locale was chosen.

#include <QLocale>

#include <optional>

class QCoreApplication;
class QProcessEnvironment;

// Qt's own texts (standard buttons, file dialogs, context menus) in German, whatever the system's
// language: Qt's translation "qtbase_de" from Qt's translations folder. False when it is missing;
// those texts then stay English.
bool InstallGermanQtTexts(QCoreApplication &app);

// The locale the desk formats with, from the environment as the C library reads it (LC_ALL before
// LC_NUMERIC and LC_TIME before LANG). A locale counts as chosen unless it is unset, "C",
// "C.UTF-8" or "POSIX". Both the number and the time locale chosen: nothing, the system's locale
// stays. Neither chosen (a fresh installation, a server): German as in Germany. Only one chosen:
// that one for all formats.
std::optional<QLocale> FormatLocaleFor(const QProcessEnvironment &env);
