#pragma once
// The print preview of the results lists: Qt's own preview dialog (so its texts are the desk's
// German ones), with the choice of what it shows and prints, and a note where the system has no
// printer.

#include "ResultsList.h"

#include <QPrintPreviewDialog>

class QAction;
class QComboBox;
class QLabel;
class QPrintPreviewWidget;

class TResultsPreview : public QPrintPreviewDialog {
    Q_OBJECT
public:
    // meeting: every entered heat and the rankings; currentHeat: the heat "Aktueller Lauf" shows.
    TResultsPreview(QPrinter *printer, results::ResultsDocument meeting, int currentHeat, bool printerPresent,
                    QWidget *parent = nullptr);

    QAction *CurrentHeatChoice; // "Aktueller Lauf"
    QAction *AllHeatsChoice;    // "Alle Läufe"
    QAction *RankingsChoice;    // "Gesamtwertung", only where there is a ranking
    QLabel *NoPrinterNote;      // shown where the system knows no printer
    QPrintPreviewWidget *Preview;
    QComboBox *ZoomBox; // the dialog's zoom factor, written and read as the locale writes numbers ("38,8 %")

    // The document the preview shows and prints now.
    const results::ResultsDocument &Shown() const { return shown_; }
    // Drawing pages, the preview lets the desk's events through at least this often (ms).
    int YieldMs = 5;

private:
    void choose(QAction *choice);
    void paintPages(QPrinter *printer);
    void localiseZoom();
    void zoomTo(double percent);

    results::ResultsDocument meeting_;
    int currentHeat_;
    results::ResultsDocument shown_;
};
