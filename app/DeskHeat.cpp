// The results protocol: "Eintragen" writes the heat into its block of the results table, the heat
// change loads a heat's lanes back; and the list files read at start-up.

#include "FormMain.h"

#include "DateTimePicker.h"
#include "Interchange.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TextEncoding.h"
#include "TimeText.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>

#include <algorithm>

namespace {

const QString DisciplineList = QStringLiteral("Zielkron-Disziplinen.lst");
const QString ClassList = QStringLiteral("Zielkron-klassen.lst");
const QString PlaceTextList = QStringLiteral("Zielkron-na.lst");
const QString LifPlaceTextList = QStringLiteral("Zielkron-na-lif.lst");

void loadItems(QComboBox *box, const std::optional<QString> &text)
{
    if (!text)
        return;
    box->clear();
    box->addItems(platform::splitLines(*text));
    box->setCurrentIndex(0);
}

} // namespace

QStringList TFormMain::ListFiles()
{
    return {DisciplineList, ClassList, PlaceTextList, LifPlaceTextList};
}

void TFormMain::LoadListFiles()
{
    // Each list from the first of the data folders that holds it (working folder, the operator's
    // own folder, the installation).
    loadItems(cmb_Disziplin, platform_.data.readText(DisciplineList));
    loadItems(cbKlassen, platform_.data.readText(ClassList));

    // The place texts: the first four lines, read as a text file whose lines end in CR LF or LF.
    if (const std::optional<QString> text = platform_.data.readText(PlaceTextList)) {
        QStringList lines = text->split(QLatin1Char('\n'));
        QAction *entries[] = {N11, N21, N31, N41};
        for (int i = 0; i < 4; ++i) {
            QString line = i < lines.size() ? lines[i] : QString();
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            entries[i]->setText(line);
        }
    }

    // What the result files for meet-management programs call the place texts ("aufg.=DNF").
    const std::optional<QString> lifTexts = platform_.data.readText(LifPlaceTextList);
    LifPlaceTexts = lifTexts ? interchange::parsePlaceTexts(*lifTexts) : interchange::defaultPlaceTexts();
}

void TFormMain::bProtokollClick()
{
    // A race whose signal was interrupted is entered only when the operator says so.
    if (!ConfirmInterruptedEntry())
        return;
    ListBoxStop->hide();
    bProtokoll->setEnabled(false);

    TakeDeskFields();
    Model.enterHeat();
    const int h = Model.record().lastEntered;
    ShowHeatInTable(h);
    WriteJournal();
    WriteResultFile(h);

    bResetClick();
    seLauf->setValue(h + 1);
}

bool TFormMain::RaceOnDesk() const
{
    return !bStart->isEnabled();
}

void TFormMain::LoadHeatUnlessRacing()
{
    if (RaceOnDesk()) {
        Model.setHeatLoadPending(true);
        return;
    }
    seLaufChange();
}

void TFormMain::BeginStartListMeeting(QMap<int, meeting::HeatOrigin> origins)
{
    Model.beginStartList(origins);
    WriteJournal();
    LoadHeatUnlessRacing();
}

void TFormMain::seLaufChange()
{
    Model.setHeatNumber(seLauf->Value());
    const meeting::HeatRecord heat = Model.record().heat(Model.currentHeat());

    // The heat's kind as it was entered; a text that is no kind of the box (a start list's) changes
    // nothing.
    if (!heat.kind().isEmpty())
        cmb_Lauf->setCurrentText(heat.kind());
    if (!heat.discipline().isEmpty())
        cmb_Disziplin->setEditText(heat.discipline());
    if (!heat.className().isEmpty())
        cbKlassen->setEditText(heat.className());
    Model.loadHeat();
    CheckBox_all->setChecked(true);
}

void TFormMain::ShowTable()
{
    const meeting::Record &record = Model.record();
    SortGrid1->setRowCount(record.rowCount());
    for (int r = 0; r < record.rowCount(); ++r) {
        const meeting::Row row = record.row(r);
        for (int c = 0; c < meeting::kColumns; ++c)
            SortGrid1->setCells(c, r, row[static_cast<std::size_t>(c)]);
    }
}

void TFormMain::ShowHeatInTable(int heat)
{
    const meeting::Record &record = Model.record();
    if (SortGrid1->RowCount() != record.rowCount())
        SortGrid1->setRowCount(record.rowCount());
    const int header = record.headerRow(heat);
    for (const int r : {0, 1})
        SortGrid1->setCells(0, r, record.cell(0, r));
    for (int r = header; r <= header + record.lanes() && r < record.rowCount(); ++r) {
        const meeting::Row row = record.row(r);
        for (int c = 0; c < meeting::kColumns; ++c)
            SortGrid1->setCells(c, r, row[static_cast<std::size_t>(c)]);
    }
}
