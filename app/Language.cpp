#include "Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QProcessEnvironment>
#include <QTranslator>

bool InstallGermanQtTexts(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

std::optional<QLocale> FormatLocaleFor(const QProcessEnvironment &env)
{
    const QString all = env.value(QStringLiteral("LC_ALL"));
    const QString lang = env.value(QStringLiteral("LANG"));
    const auto category = [&](const QString &name) {
        if (!all.isEmpty())
            return all;
        const QString value = env.value(name);
        return value.isEmpty() ? lang : value;
    };
    // "C", "C.UTF-8" and "POSIX" all read as Qt's C locale, and so does a name Qt does not know.
    const auto chosen = [](const QString &name) { return !name.isEmpty() && QLocale(name).language() != QLocale::C; };
    const QString numbers = category(QStringLiteral("LC_NUMERIC"));
    const QString times = category(QStringLiteral("LC_TIME"));
    const bool numbersChosen = chosen(numbers);
    const bool timesChosen = chosen(times);
    if (numbersChosen && timesChosen)
        return std::nullopt;
    if (!numbersChosen && !timesChosen)
        return QLocale(QLocale::German, QLocale::Germany);
    return QLocale(numbersChosen ? numbers : times);
}
