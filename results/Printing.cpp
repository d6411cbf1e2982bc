// The results lists on paper: the print preview (Ctrl+P) with the choice of the current heat, all
// heats or the rankings, and the results document of the meeting that the preview and the PDF
// export draw.

#include "FormMain.h"

#include "ResultsList.h"
#include "ResultsPreview.h"
#include "ResultsSheet.h"
#include "SortGrid.h"

#include <QGuiApplication>
#include <QPrinter>

#include <algorithm>

results::ResultsDocument TFormMain::ResultsOfMeeting() const
{
    const TSortGrid *table = SortGrid1;
    const int rows = table->RowCount();
    const auto row = [table, rows](int r) {
        std::vector<QString> texts(static_cast<std::size_t>(table->ColCount()));
        if (r < rows)
            for (int c = 0; c < table->ColCount(); ++c)
                texts[static_cast<std::size_t>(c)] = table->Cells(c, r);
        return texts;
    };

    results::ResultsDocument document;
    const TPrintOptions &options = table->PrintOptions;
    document.title = (options.PageTitle.isEmpty() ? row(0)[0] : options.PageTitle).trimmed();
    document.date = row(1)[0].trimmed();
    QList<int> heats = EnteredHeats;
    std::sort(heats.begin(), heats.end());
    for (const int heat : heats) {
        const int header = HeatHeaderRow(heat, LineCount);
        std::vector<std::vector<QString>> lanes;
        std::vector<std::int32_t> millis;
        for (int i = 1; i <= LineCount; ++i) {
            lanes.push_back(row(header + i));
            millis.push_back(EnteredMillis.value(header + i));
        }
        document.heats.push_back(results::readHeat(heat, row(header), lanes, millis));
    }
    document.rankings = results::rankingsOf(document.heats);
    // Equal shown times may hide different ones: the list says how they were decided.
    results::markTiesWithThousandths(document);
    return document;
}

int TFormMain::PrintHeat() const
{
    const int heat = CurrentHeat();
    return EnteredHeats.contains(heat) ? heat : LastEnteredHeat;
}

void TFormMain::ShowNoResults()
{
    platform_.dialogs.messageBox(this,
                                 QStringLiteral("Es ist noch kein Lauf eingetragen, die Ergebnisliste wäre leer.\n"
                                                "Ein Lauf kommt mit „Eintragen“ (Alt+E) in die Liste."),
                                 QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok,
                                 platform::MessageIcon::Information);
}

void TFormMain::PrintClick()
{
    if (DrawingLists)
        return;
    results::ResultsDocument meeting = ResultsOfMeeting();
    if (meeting.heats.empty()) {
        ShowNoResults();
        return;
    }
    const TPrintOptions &options = SortGrid1->PrintOptions;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(results::resultsPageLayout());
    printer.setDocName(options.JobTitle.isEmpty() ? QStringLiteral("Ergebnisse %1").arg(meeting.title).trimmed()
                                                  : options.JobTitle);
    printer.setCopyCount(std::max(1, options.Copies));
    TResultsPreview preview(&printer, std::move(meeting), PrintHeat(), !platform_.printers.printerNames().isEmpty(),
                            this);
    // A race goes on meanwhile: its lanes stop by their keys also while the preview is open.
    preview.setProperty(RaceKeysProperty, true);
    platform_.dialogs.execModal(&preview);
}
