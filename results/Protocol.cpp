// The list files read at start-up.

#include "FormMain.h"

#include "TextEncoding.h"

#include <QAction>
#include <QComboBox>
#include <QFile>

namespace {

// The whole file decoded, or nothing when it cannot be opened or read.
std::optional<QString> readListFile(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return platform::decodeText(bytes);
}

void loadItems(QComboBox *box, const QString &fileName)
{
    const std::optional<QString> text = readListFile(fileName);
    if (!text)
        return;
    box->clear();
    box->addItems(platform::splitLines(*text));
    box->setCurrentIndex(0);
}

} // namespace

void TFormMain::LoadListFiles()
{
    loadItems(cmb_Disziplin, QStringLiteral("Zielkron-Disziplinen.lst"));
    loadItems(cbKlassen, QStringLiteral("Zielkron-klassen.lst"));

    // The place texts: the first four lines, read as a text file whose lines end in CR LF or LF.
    if (const std::optional<QString> text = readListFile(QStringLiteral("Zielkron-na.lst"))) {
        QStringList lines = text->split(QLatin1Char('\n'));
        QAction *entries[] = {N11, N21, N31, N41};
        for (int i = 0; i < 4; ++i) {
            QString line = i < lines.size() ? lines[i] : QString();
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            entries[i]->setText(line);
        }
    }
}

void TFormMain::bProtokollClick() {}

void TFormMain::seLaufChange() {}
