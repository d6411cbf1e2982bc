// The desk in a meeting's workflow with a meet-management program: its start list of events (.evt)
// and list of people (.ppl) fill the heats, and every entered heat goes back as a result file
// (.lif), into the results folder right after "Eintragen" or for the whole meeting on export.

#include "FormMain.h"

#include "FileWriteQueue.h"
#include "Interchange.h"
#include "TableFiles.h"
#include "TextEncoding.h"
#include "TimeText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>

namespace {

// A meet-management program's lists are a few hundred kilobytes for the largest meeting; a file
// far beyond is the wrong file and is not read.
constexpr qint64 MaxListBytes = 2 * 1024 * 1024;

// The text of a list file, or nothing with the reason in error. utf8: the file came in UTF-8.
std::optional<QString> readList(const QString &path, QString *error, bool *utf8 = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > MaxListBytes) {
        *error = QStringLiteral("Die Datei ist %1 MB groß; höchstens 2 MB werden gelesen.")
                     .arg(QLocale().toString(double(file.size()) / (1024 * 1024), 'f', 1));
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return std::nullopt;
    }
    if (utf8)
        *utf8 = platform::isUtf8Text(bytes);
    return platform::decodeText(bytes);
}

// The file "<baseName>.<suffix>" in folder, whatever the case of its letters (lists copied from
// another system come as "LYNX.PPL" as often as "lynx.ppl"); empty when there is none.
QString fileBeside(const QDir &folder, const QString &baseName, const QString &suffix)
{
    const QString wanted = baseName + QLatin1Char('.') + suffix;
    for (const QString &name : folder.entryList({QStringLiteral("*.") + suffix}, QDir::Files))
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return folder.filePath(name);
    return {};
}

QString heatName(const interchange::EvtHeat &h)
{
    return QStringLiteral("Wettbewerb %1, Runde %2, Lauf %3").arg(h.event).arg(h.round).arg(h.heat);
}

QString athlete(const interchange::EvtLane &lane)
{
    const QString name = interchange::displayName(lane.first, lane.last);
    if (lane.id.isEmpty())
        return name;
    return name.isEmpty() ? QStringLiteral("Startnummer %1").arg(lane.id)
                          : QStringLiteral("%1 (Startnummer %2)").arg(name, lane.id);
}

// A list for a message: one line each, at most 20, then how many more.
QString itemised(const QStringList &items)
{
    constexpr int shown = 20;
    QString out;
    for (qsizetype i = 0; i < items.size() && i < shown; ++i)
        out += QStringLiteral("\n• ") + items[i];
    if (items.size() > shown)
        out += QStringLiteral("\n• … und %1 weitere").arg(items.size() - shown);
    return out;
}

} // namespace

void TFormMain::ImportEvtList(const QString &fileName)
{
    const QFileInfo picked(fileName);
    const QDir folder = picked.absoluteDir();
    QString evtFile = fileName;
    if (picked.suffix().compare(QLatin1String("ppl"), Qt::CaseInsensitive) == 0) {
        evtFile = fileBeside(folder, picked.completeBaseName(), QStringLiteral("evt"));
        if (evtFile.isEmpty())
            evtFile = fileBeside(folder, QStringLiteral("lynx"), QStringLiteral("evt"));
        if (evtFile.isEmpty()) {
            ShowError(QStringLiteral("Neben der Personenliste \"%1\" liegt keine Wettkampfdatei (%2.evt oder lynx.evt). "
                                     "Es wurde nichts geladen.")
                          .arg(QDir::toNativeSeparators(fileName), picked.completeBaseName()));
            return;
        }
    }

    QString error;
    bool utf8 = false;
    const std::optional<QString> evtText = readList(evtFile, &error, &utf8);
    if (!evtText) {
        ShowError(QStringLiteral("Die Wettkampfdatei \"%1\" kann nicht gelesen werden: %2\nEs wurde nichts geladen.")
                      .arg(QDir::toNativeSeparators(evtFile), error));
        return;
    }
    const interchange::EvtFile list = interchange::parseEvt(*evtText);

    // The people: from the list beside it of the same name, else from "lynx.ppl".
    QStringList notLoaded;
    QString pplFile = fileBeside(folder, QFileInfo(evtFile).completeBaseName(), QStringLiteral("ppl"));
    if (pplFile.isEmpty())
        pplFile = fileBeside(folder, QStringLiteral("lynx"), QStringLiteral("ppl"));
    QHash<QString, interchange::Person> people;
    if (!pplFile.isEmpty()) {
        if (const std::optional<QString> text = readList(pplFile, &error))
            people = interchange::parsePpl(*text);
        else
            notLoaded << QStringLiteral("die Personenliste %1: %2").arg(QFileInfo(pplFile).fileName(), error);
    }

    // Everything is checked before anything reaches the table.
    for (const int line : list.strayLines)
        notLoaded << QStringLiteral("Zeile %1: eine Bahn vor dem ersten Lauf").arg(line);
    const int lanes = Model.lanes();
    QList<interchange::EvtHeat> heats;
    QMap<int, meeting::HeatOrigin> origins;
    std::set<std::tuple<int, int, int>> seen;
    QStringList unnamed;
    const interchange::EvtHeat *firstBeyond = nullptr; // the first heat after the hundredth
    int beyond = 0;
    for (const interchange::EvtHeat &h : list.heats) {
        if (h.event < 0 || h.round < 0 || h.heat < 0) {
            notLoaded << QStringLiteral("Zeile %1: Wettbewerb, Runde und Lauf sind keine Nummern; der Lauf fehlt").arg(h.line);
            continue;
        }
        if (!seen.insert({h.event, h.round, h.heat}).second) {
            notLoaded << QStringLiteral("Zeile %1: %2 steht zum zweiten Mal in der Datei").arg(h.line).arg(heatName(h));
            continue;
        }
        if (heats.size() == MaxHeat) {
            if (beyond++ == 0)
                firstBeyond = &h;
            continue;
        }
        interchange::EvtHeat heat = h;
        heat.lanes.clear();
        meeting::HeatOrigin origin{h.event, h.round, h.heat, utf8, {}};
        QSet<int> taken;
        for (interchange::EvtLane lane : h.lanes) {
            if (lane.id.isEmpty() && lane.last.isEmpty() && lane.first.isEmpty() && lane.affiliation.isEmpty())
                continue; // a lane left free
            if (lane.lane < 1 || lane.lane > lanes) {
                notLoaded << QStringLiteral("Zeile %1: %2, %3: %4")
                                 .arg(lane.line)
                                 .arg(heatName(h),
                                      lane.lane < 0 ? QStringLiteral("ohne Bahnnummer")
                                                    : QStringLiteral("Bahn %1 (eingestellt: %2 Bahnen)").arg(lane.lane).arg(lanes),
                                      athlete(lane));
                continue;
            }
            if (taken.contains(lane.lane)) {
                notLoaded << QStringLiteral("Zeile %1: %2, Bahn %3 ist schon besetzt: %4")
                                 .arg(lane.line)
                                 .arg(heatName(h))
                                 .arg(lane.lane)
                                 .arg(athlete(lane));
                continue;
            }
            taken.insert(lane.lane);
            // What the start list leaves out comes from the list of people.
            if (const auto person = people.constFind(lane.id); !lane.id.isEmpty() && person != people.cend()) {
                if (lane.last.isEmpty() && lane.first.isEmpty()) {
                    lane.last = person->last;
                    lane.first = person->first;
                }
                if (lane.affiliation.isEmpty())
                    lane.affiliation = person->affiliation;
            }
            if (lane.last.isEmpty() && lane.first.isEmpty())
                unnamed << QStringLiteral("%1, Bahn %2: %3")
                               .arg(heatName(h))
                               .arg(lane.lane)
                               .arg(lane.id.isEmpty() ? QStringLiteral("ohne Startnummer")
                                                      : QStringLiteral("Startnummer ") + lane.id);
            else
                origin.names.insert(lane.lane, {lane.last, lane.first});
            heat.lanes << lane;
        }
        heats << heat;
        origins.insert(static_cast<int>(heats.size()), origin);
    }
    if (firstBeyond)
        notLoaded << QStringLiteral("%1 Läufe nach dem hundertsten, ab Zeile %2 (%3): das Pult führt höchstens 100 Läufe")
                         .arg(beyond)
                         .arg(firstBeyond->line)
                         .arg(heatName(*firstBeyond));

    const QString evtName = QDir::toNativeSeparators(evtFile);
    if (heats.isEmpty()) {
        ShowError(QStringLiteral("Die Wettkampfdatei \"%1\" enthält keinen Lauf, der geladen werden kann "
                                 "(ein Lauf beginnt mit einer Zeile \"Wettbewerb,Runde,Lauf,Name\"). Es wurde nichts geladen.%2")
                      .arg(evtName, itemised(notLoaded)));
        return;
    }
    // Entered heats that are on no disk are replaced only when the operator says so.
    if (!KeepJournalBeforeImport())
        return;

    // The heats replace the table below the title and the date, one block each.
    meeting::Record &table = Model.recordToWrite();
    const int rows = HeatHeaderRow(static_cast<int>(heats.size()) + 1, lanes);
    table.setRowCount(2);
    table.setRowCount(rows);
    for (int k = 1; k <= heats.size(); ++k) {
        const interchange::EvtHeat &heat = heats[k - 1];
        const int header = HeatHeaderRow(k, lanes);
        table.at(header).lane = QString::number(k);
        table.at(header).name = heat.name;
        for (int i = 1; i <= lanes; ++i)
            table.at(header + i).lane = QString::number(i) + QLatin1Char('.');
        for (const interchange::EvtLane &lane : heat.lanes) {
            meeting::LaneRecord &r = table.at(header + lane.lane);
            r.number = lane.id;
            r.name = interchange::displayName(lane.first, lane.last);
            r.note = lane.affiliation;
        }
    }
    ShowTable();
    BeginStartListMeeting(std::move(origins));

    if (notLoaded.isEmpty() && unnamed.isEmpty())
        return;
    QString text = QStringLiteral("Die Wettkampfdatei \"%1\" ist geladen: %2 Läufe.").arg(evtName).arg(heats.size());
    if (!notLoaded.isEmpty())
        text += QStringLiteral("\n\nNicht geladen:") + itemised(notLoaded);
    if (!unnamed.isEmpty())
        text += (pplFile.isEmpty() ? QStringLiteral("\n\nOhne Namen geladen (die Wettkampfdatei nennt keinen, und neben "
                                                    "ihr liegt keine Personenliste .ppl):")
                                   : QStringLiteral("\n\nOhne Namen geladen (weder die Wettkampfdatei noch die "
                                                    "Personenliste %1 nennt einen):")
                                         .arg(QFileInfo(pplFile).fileName()))
                + itemised(unnamed);
    platform_.dialogs.messageBox(this, text, QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok,
                                 platform::MessageIcon::Warning);
}

platform::FileWriteQueue &TFormMain::ResultFiles()
{
    if (!resultFiles_) {
        resultFiles_ = std::make_unique<platform::FileWriteQueue>(platform_.files);
        resultFiles_->setErrorHandler([this](const QString &file, const QString &error) {
            QMetaObject::invokeMethod(
                this,
                [this, file, error] {
                    ShowError(QStringLiteral("Die Ergebnisdatei für das Wettkampfprogramm konnte nicht geschrieben "
                                             "werden:\n%1\n\n%2\n\nBis das behoben ist, fehlen die Läufe im "
                                             "Ergebnisordner. Danach schreibt \"Export\" mit dem Typ "
                                             "\"Wettkampfdateien (*.lif)\" alle eingetragenen Läufe auf einmal.")
                                  .arg(error, QDir::toNativeSeparators(file)));
                },
                Qt::QueuedConnection);
        });
    }
    return *resultFiles_;
}

void TFormMain::WriteResultFile(int heat)
{
    if (ResultFolder.isEmpty())
        return;
    const meeting::HeatRecord entered = Model.record().heat(heat);
    const interchange::LifHeat lif = results::lifHeatOf(entered);
    ResultFiles().write(QDir(ResultFolder).filePath(interchange::lifFileName(lif.event, lif.round, lif.heat)),
                        interchange::encodeLif(lif, LifPlaceTexts, entered.origin && entered.origin->utf8));
}

void TFormMain::ExportLifFiles(const QString &folder)
{
    QList<int> heats = Model.record().entered;
    std::sort(heats.begin(), heats.end());
    const QString where = QDir::toNativeSeparators(folder);
    if (heats.isEmpty()) {
        platform_.dialogs.messageBox(
            this, QStringLiteral("Es ist noch kein Lauf eingetragen; in \"%1\" wurde nichts geschrieben.").arg(where),
            QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok, platform::MessageIcon::Information);
        return;
    }
    // Each file is flushed to the disk, which takes a while on a memory stick: the files are
    // written beside the desk, and the outcome is told when the last one is done. Only the writer's
    // thread touches the outcome until then.
    struct Outcome {
        QStringList written;
        QStringList failed;
    };
    const auto outcome = std::make_shared<Outcome>();
    const qsizetype total = heats.size();
    for (const int heat : heats) {
        const meeting::HeatRecord entered = Model.record().heat(heat);
        const interchange::LifHeat lif = results::lifHeatOf(entered);
        const QString name = interchange::lifFileName(lif.event, lif.round, lif.heat);
        ResultFiles().write(
            QDir(folder).filePath(name), interchange::encodeLif(lif, LifPlaceTexts, entered.origin && entered.origin->utf8),
            [this, outcome, name, total, where](const QString &error) {
                if (error.isEmpty())
                    outcome->written << name;
                else
                    outcome->failed << name + QStringLiteral(": ") + error;
                if (outcome->written.size() + outcome->failed.size() < total)
                    return;
                QMetaObject::invokeMethod(
                    this,
                    [this, outcome, total, where] {
                        if (!outcome->failed.isEmpty()) {
                            ShowError(QStringLiteral("In den Ordner \"%1\" konnten %2 von %3 Läufen nicht geschrieben "
                                                     "werden:%4")
                                          .arg(where)
                                          .arg(outcome->failed.size())
                                          .arg(total)
                                          .arg(itemised(outcome->failed)));
                            return;
                        }
                        platform_.dialogs.messageBox(this,
                                                     QStringLiteral("%1 Läufe in den Ordner \"%2\" geschrieben:%3")
                                                         .arg(total)
                                                         .arg(where, itemised(outcome->written)),
                                                     QGuiApplication::applicationDisplayName(),
                                                     platform::MessageButtons::Ok, platform::MessageIcon::Information);
                    },
                    Qt::QueuedConnection);
            });
    }
}
