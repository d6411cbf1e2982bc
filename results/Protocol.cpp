// The results protocol: "Eintragen" writes the heat into its block of the results table, the heat
// change loads a heat's lanes back; and the list files read at start-up.

#include "FormMain.h"

#include "DateTimePicker.h"
#include "Interchange.h"
#include "Journal.h"
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

int TFormMain::CurrentHeat() const
{
    // Whatever the field holds while it is being typed in, a heat addresses one of the blocks
    // 1..100: a typed 0 counts as heat 1, a long number as heat 100.
    return std::clamp(seLauf->Value(), 1, MaxHeat);
}

int TFormMain::HeatHeaderRow(int heat, int lanes)
{
    return (heat - 1) * (lanes + 1) + 2;
}

void TFormMain::bProtokollClick()
{
    ListBoxStop->hide();
    bProtokoll->setEnabled(false);

    TSortGrid *table = SortGrid1;
    table->setCells(0, 0, eTitle->text());
    if (DateTimePicker1->Checked())
        table->setCells(0, 1, QLocale().toString(DateTimePicker1->Date(), ShortDateFormat(QLocale())));

    const int h = CurrentHeat();
    const int lanes = LineCount;
    const int header = HeatHeaderRow(h, lanes);
    if (table->RowCount() < h * (lanes + 1) + 2)
        table->setRowCount(h * (lanes + 1) + 2);

    table->setCells(0, header, QString::number(h));
    table->setCells(1, header, cmb_Lauf->currentText()); // the heat's kind, for the results lists
    table->setCells(2, header, cmb_Disziplin->currentText());
    table->setCells(3, header, cbKlassen->currentText());
    if (sfWind->Value() != 0.0)
        table->setCells(4, header, sfWind->text() + QLatin1Char(' ') + lbl_ms->text());
    table->setCells(5, header, PanelDate->toolTip());

    for (int i = 1; i <= lanes; ++i) {
        const TFrameLine *row = Line(i);
        const int r = header + i;
        table->setCells(0, r, QString::number(i) + QLatin1Char('.'));
        table->setCells(1, r, row->eNum->text());
        table->setCells(2, r, row->eName->text());
        table->setCells(4, r, row->eName->toolTip());
        table->setCells(5, r, row->LabelTime->text());
        table->setCells(6, r, row->ePlatz->Caption());
        if (row->LabelTime->Tag() > 0 && row->LabelTime->Tag() <= platform::JournalLimits::Millis)
            EnteredMillis.insert(r, row->LabelTime->Tag());
        else
            EnteredMillis.remove(r);
    }

    if (!EnteredHeats.contains(h))
        EnteredHeats.append(h);
    LastEnteredHeat = h;
    WriteJournal();
    WriteResultFile(h);

    bResetClick();
    seLauf->setValue(h + 1);
}

namespace {

// Blanks and control characters off both ends, as the name field shows a name.
QString trimName(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

bool TFormMain::RaceOnDesk() const
{
    return !bStart->isEnabled();
}

void TFormMain::LoadHeatUnlessRacing()
{
    if (RaceOnDesk()) {
        HeatLoadPending = true;
        return;
    }
    seLaufChange();
}

void TFormMain::BeginStartListMeeting(QMap<int, platform::HeatOrigin> origins)
{
    // A start list begins a meeting: no heat of it has been entered yet.
    EnteredHeats.clear();
    EnteredMillis.clear();
    LastEnteredHeat = 0;
    HeatOrigins = std::move(origins);
    WriteJournal();
    LoadHeatUnlessRacing();
}

void TFormMain::seLaufChange()
{
    HeatLoadPending = false;
    const int h = CurrentHeat();
    const int lanes = LineCount;
    const int header = HeatHeaderRow(h, lanes);
    const TSortGrid *table = SortGrid1;

    // The heat's kind as it was entered; a text that is no kind of the box (a start list's) changes
    // nothing.
    const QString kind = table->Cells(1, header);
    if (!kind.isEmpty())
        cmb_Lauf->setCurrentText(kind);
    const QString discipline = table->Cells(2, header);
    if (!discipline.isEmpty())
        cmb_Disziplin->setEditText(discipline);
    const QString klass = table->Cells(3, header);
    if (!klass.isEmpty())
        cbKlassen->setEditText(klass);

    for (int i = 1; i <= lanes; ++i) {
        TFrameLine *row = Line(i);
        const int r = header + i;
        row->setStartNumber(table->Cells(1, r));
        row->eName->setText(trimName(table->Cells(2, r)));
        row->eName->setToolTip(table->Cells(4, r));
        row->cbON->setChecked(true);
        row->ePlatz->setCaption(table->Cells(6, r));
        row->LabelTime->setTag(0);
        row->LabelTime->setText(table->Cells(5, r));
        row->LabelTime->setTag(TimeTextToLaneTime(row->LabelTime->text()));
        // An entered time keeps its thousandths while the table still shows what they give, truncated
        // or rounded up, so entering the heat once more (a name mended) does not lose them.
        const std::int32_t kept = EnteredMillis.value(r);
        const QString shown = row->LabelTime->text().trimmed();
        const int shownAccuracy = TimeTextAccuracy(shown);
        if (kept > 0 && !shown.isEmpty()
            && (FinalTimeText(kept, shownAccuracy, true) == shown || FinalTimeText(kept, shownAccuracy, false) == shown))
            row->LabelTime->setTag(kept);
    }
    // Lanes with equal times keep the order of the places they were entered with.
    PlacingOrder.clear();
    for (int i = 1; i <= lanes; ++i)
        if (IsPlaceNumber(Line(i)->ePlatz->Caption()))
            PlacingOrder.push_back(i);
    std::stable_sort(PlacingOrder.begin(), PlacingOrder.end(), [this](int a, int b) {
        return Line(a)->ePlatz->Caption().toInt() < Line(b)->ePlatz->Caption().toInt();
    });
    CheckBox_all->setChecked(true);
}
