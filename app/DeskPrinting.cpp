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
    return results::documentOf(Model.record(), SortGrid1->PrintOptions.PageTitle);
}

int TFormMain::PrintHeat() const
{
    const int heat = CurrentHeat();
    return Model.record().entered.contains(heat) ? heat : Model.record().lastEntered;
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
