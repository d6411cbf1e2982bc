#include "HelpTopics.h"

namespace help {

const std::vector<Topic> &topics()
{
    static const std::vector<Topic> table = {
        {1, "Inhalt", ContentsAnchor},
        {10, "Überblick", "ueberblick"},
        {11, "Rennen", "rennen"},
        {20, "Tasten", "tasten"},
        {30, "Lichtschranke", "lichtschranken"},
        {31, "Startkontakt", "lichtschranken"},
        {32, "Verkabelung", "verkabelung"},
        {33, "Schnittstellen", "schnittstellen"},
        {34, "Lampe", "lampe"},
        {40, "1 Ziel Lichtschranke", "ein-ziel"},
        {50, "Eintragen", "laeufe"},
        {51, "Lauf", "laeufe"},
        {52, "Platz", "plaetze"},
        {60, "Startliste", "startliste"},
        {61, "Arbeitsmappe", "arbeitsmappen"},
        {70, "Export", "export"},
        {80, "Einstellungen", "einstellungen"},
        {85, "Live-Anzeige", "live-anzeige"},
        {90, "Dateien", "dateien"},
        {95, "Wiederherstellen", "journal"},
        {100, "Simulator", "simulator"},
        {110, "Störungen", "stoerungen"},
        {120, "Befehlszeile", "befehlszeile"},
    };
    return table;
}

QString anchorForKeyword(const QString &keyword)
{
    const QString wanted = keyword.trimmed();
    if (!wanted.isEmpty()) {
        for (const Topic &t : topics())
            if (QString::fromUtf8(t.keyword).compare(wanted, Qt::CaseInsensitive) == 0)
                return QString::fromLatin1(t.anchor);
        for (const Topic &t : topics())
            if (QString::fromUtf8(t.keyword).startsWith(wanted, Qt::CaseInsensitive))
                return QString::fromLatin1(t.anchor);
    }
    return QString::fromLatin1(ContentsAnchor);
}

QString anchorForContext(int context)
{
    for (const Topic &t : topics())
        if (t.context == context)
            return QString::fromLatin1(t.anchor);
    return QString::fromLatin1(ContentsAnchor);
}

} // namespace help
