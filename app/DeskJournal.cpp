// The meeting journal of the desk: after every change of the results table (each entry, each
// start-list import) the whole table goes to a file beside the settings; at start-up a journal
// with data is offered for restoring.

#include "FormMain.h"

#include "Journal.h"
#include "JournalFile.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TimeText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLocale>

namespace {

// A free name beside the journal: "<name>-<stamp>[-n].journal".
QString asideName(const QString &journal, const QString &stamp)
{
    const QFileInfo info(journal);
    const QDir folder = info.absoluteDir();
    QString name = info.completeBaseName() + QLatin1Char('-') + stamp;
    QString candidate = folder.filePath(name + QStringLiteral(".journal"));
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = folder.filePath(name + QStringLiteral("-%1.journal").arg(n));
    return candidate;
}

} // namespace

QString TFormMain::JournalFile() const
{
    return journal_ ? journal_->path() : const_cast<TFormMain *>(this)->platform_.settings.journalFile(ProgramName);
}

void TFormMain::WriteJournal()
{
    if (!OwnsJournal())
        return;
    if (!journal_) {
        journal_ = std::make_unique<platform::JournalWriter>(platform_.settings.journalFile(ProgramName),
                                                             platform_.files);
        journal_->setErrorHandler([this](const QString &error) {
            QMetaObject::invokeMethod(
                this,
                [this, error] {
                    ShowError(QStringLiteral("Die Sicherung der Veranstaltung konnte nicht geschrieben werden:\n%1\n\n"
                                             "%2\n\nExportieren Sie die Ergebnisse, bis das behoben ist.")
                                  .arg(error, QDir::toNativeSeparators(JournalFile())));
                },
                Qt::QueuedConnection);
        });
    }
    // A copy of the table (its texts are shared, not copied) is written down on the writer's thread.
    journal_->write([record = Model.record(), title = eTitle->text(), written = QDateTime::currentDateTime()] {
        return results::encodeJournal(results::journalOf(record, title, written));
    });
}

bool TFormMain::KeepJournalBeforeImport()
{
    // A start list replaces the table: heats entered before stay in a copy of the journal.
    if (Model.record().entered.isEmpty())
        return true;
    QString error;
    if (!FlushJournal()) {
        error = journal_->lastError();
    } else {
        const QString file = JournalFile();
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly)) {
            error = in.errorString();
        } else {
            const QByteArray bytes = in.readAll();
            const QString copy = asideName(file, QStringLiteral("vor-startliste-")
                                                     + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
            if (in.error() != QFileDevice::NoError)
                error = in.errorString();
            else if (platform::writeFileAtomically(copy, bytes, &error, platform::FileMode::Private, platform_.files))
                return true;
        }
    }
    // The entered heats are on no disk: the operator decides, and keeping them is the default.
    return platform_.dialogs.messageBox(
               this,
               QStringLiteral("Die eingetragenen Läufe sind nicht gesichert: die Sicherung der Veranstaltung konnte "
                              "nicht geschrieben werden:\n%1\n\n"
                              "Die Startliste ersetzt die Ergebnistabelle; die eingetragenen Läufe stünden dann in "
                              "keiner Datei mehr. Exportieren Sie sie vorher.\n\n"
                              "Startliste trotzdem laden?")
                   .arg(error),
               QGuiApplication::applicationDisplayName(), platform::MessageButtons::YesNoDefaultNo,
               platform::MessageIcon::Warning)
           == platform::MbYes;
}

bool TFormMain::JournalSafeToClose()
{
    if (FlushJournal())
        return true;
    const QString text =
        QStringLiteral("Die Veranstaltung ist nicht gesichert: die Sicherung konnte nicht geschrieben werden:\n%1\n\n%2"
                       "\n\nBeim Beenden gehen alle Läufe verloren, die nicht exportiert wurden.\n\n"
                       "Trotzdem beenden?\n\n"
                       "Nein: Zielkron bleibt geöffnet, und die Ergebnistabelle kann an anderer Stelle exportiert "
                       "werden, zum Beispiel auf einen USB-Stick.")
            .arg(journal_->lastError(), QDir::toNativeSeparators(JournalFile()));
    if (platform_.dialogs.messageBox(this, text, QGuiApplication::applicationDisplayName(),
                                     platform::MessageButtons::YesNoDefaultNo, platform::MessageIcon::Warning)
        == platform::MbYes)
        return true;
    bSaveClick();
    return false;
}

bool TFormMain::OwnsJournal() const
{
    return journalLock_ && journalLock_->state() != platform::JournalLock::State::HeldElsewhere;
}

bool TFormMain::ClaimJournal()
{
    // Where no lock can be taken at all (a settings folder that cannot be written), the desk runs:
    // its journal writes tell whether the journal can be kept there.
    journalLock_ = std::make_unique<platform::JournalLock>(platform_.settings.journalFile(ProgramName));
    if (OwnsJournal())
        return true;
    platform_.dialogs.messageBox(
        this,
        QStringLiteral("Zielkron läuft bereits.\n\n"
                       "Die Veranstaltung wird im schon geöffneten Fenster von Zielkron geführt und gesichert. "
                       "Ein zweites Fenster würde ihre Sicherung gefährden und wird deshalb nicht geöffnet.\n\n"
                       "Bitte das laufende Fenster verwenden; es ist vielleicht minimiert oder auf einem anderen "
                       "Bildschirm."),
        QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok, platform::MessageIcon::Warning);
    return false;
}

bool TFormMain::FlushJournal()
{
    return !journal_ || journal_->flush();
}

void TFormMain::OfferJournalRestore()
{
    if (!OwnsJournal())
        return;
    const QString file = JournalFile();
    QFile in(file);
    if (!in.exists() || !in.open(QIODevice::ReadOnly))
        return;
    // A file far beyond any journal is not read whole.
    const QByteArray bytes = in.read(results::JournalLimits::Bytes + 1);
    in.close();
    const QString caption = QGuiApplication::applicationDisplayName();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));

    QString why;
    const std::optional<results::MeetingJournal> journal = results::decodeJournal(bytes, &why);
    if (!journal) {
        // Never trusted, never overwritten: the file is put aside for inspection.
        const results::JournalFormat format = results::journalFormat(bytes);
        if (format == results::JournalFormat::Older || format == results::JournalFormat::Newer) {
            const bool older = format == results::JournalFormat::Older;
            const QString aside = asideName(file, (older ? QStringLiteral("aelteres-format-")
                                                         : QStringLiteral("neueres-format-"))
                                                      + stamp);
            QFile::rename(file, aside);
            platform_.dialogs.messageBox(
                this,
                QStringLiteral("Die gesicherte Veranstaltung wurde von einer %1 Version von Zielkron in einem %1 "
                               "Format geschrieben und wird hier nicht geladen.\n"
                               "Die Ergebnistabelle beginnt leer.\n\n"
                               "Die Datei bleibt erhalten:\n%2")
                    .arg(older ? QStringLiteral("älteren") : QStringLiteral("neueren"), QDir::toNativeSeparators(aside)),
                caption, platform::MessageButtons::Ok, platform::MessageIcon::Warning);
            return;
        }
        const QString aside = asideName(file, QStringLiteral("beschaedigt-") + stamp);
        QFile::rename(file, aside);
        ShowError(QStringLiteral("Die gesicherte Veranstaltung ist beschädigt und wird nicht geladen (%1).\n"
                                 "Die Ergebnistabelle beginnt leer.\n\n"
                                 "Die Datei bleibt zur Prüfung erhalten:\n%2")
                      .arg(why, QDir::toNativeSeparators(aside)));
        return;
    }
    if (journal->cells.isEmpty())
        return;

    const QLocale locale;
    const QString written = locale.toString(
        journal->written, ShortDateFormat(locale) + QLatin1Char(' ') + locale.timeFormat(QLocale::ShortFormat));
    const QString text =
        QStringLiteral("Letzte Veranstaltung wiederherstellen?\n\n"
                       "Titel: %1\nDatum: %2\nEingetragene Läufe: %3\nGesichert: %4\n\n"
                       "Nein beginnt eine neue Veranstaltung; die Sicherung bleibt als Datei erhalten.")
            .arg(journal->title, journal->date.isEmpty() ? QStringLiteral("–") : journal->date)
            .arg(journal->heats.size())
            .arg(written);
    if (platform_.dialogs.messageBox(this, text, caption, platform::MessageButtons::YesNo,
                                     platform::MessageIcon::Question)
        == platform::MbYes) {
        RestoreJournal(*journal);
        return;
    }
    const QString aside =
        asideName(file, (journal->written.isValid() ? journal->written : QDateTime::currentDateTime())
                            .toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QFile::rename(file, aside);
}

void TFormMain::RestoreJournal(const results::MeetingJournal &journal)
{
    // The heat blocks were laid out for the journal's lane count: the desk takes it back, as
    // the settings of a run that ended in a crash were never saved.
    const bool relaid = journal.lanes != Model.lanes();
    Model.restore(results::recordOf(journal));
    if (relaid) {
        sizeWindowHeight();
        bResetClick();
    }
    ShowTable();
    eTitle->setText(journal.title);

    const int next = std::min(journal.lastHeat + 1, static_cast<int>(MaxHeat));
    if (seLauf->Value() == next)
        seLaufChange();
    else
        seLauf->setValue(next);
}

void TFormMain::ShowError(const QString &text)
{
    platform_.dialogs.messageBox(this, text, QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok,
                                 platform::MessageIcon::Error);
}
