#include "ResultsPreview.h"

#include "ResultsSheet.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QActionGroup>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

TResultsPreview::TResultsPreview(QPrinter *printer, results::ResultsDocument meeting, int currentHeat,
                                 bool printerPresent, QWidget *parent)
    : QPrintPreviewDialog(printer, parent), meeting_(std::move(meeting)), currentHeat_(currentHeat)
{
    setObjectName(QStringLiteral("ResultsPreview"));
    Preview = findChild<QPrintPreviewWidget *>();

    // The overview paints every page of the list at once, a whole meeting's in one go: the one tool
    // of the preview that would hold up a race for longer than a page takes.
    if (QAction *overview = findChild<QAction *>(QStringLiteral("overviewModeAction")))
        overview->setVisible(false);

    // The choice of what is shown, beside the dialog's own tools.
    QToolBar *tools = findChild<QToolBar *>();
    if (!tools) {
        tools = new QToolBar(this);
        layout()->setMenuBar(tools);
    }
    tools->addSeparator();
    auto *choices = new QActionGroup(this);
    const auto choice = [&](const QString &text, const char *name) {
        QAction *a = choices->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setCheckable(true);
        tools->addAction(a);
        if (auto *button = qobject_cast<QToolButton *>(tools->widgetForAction(a)))
            button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return a;
    };
    CurrentHeatChoice = choice(QStringLiteral("Aktueller Lauf"), "CurrentHeatChoice");
    AllHeatsChoice = choice(QStringLiteral("Alle Läufe"), "AllHeatsChoice");
    RankingsChoice = choice(QStringLiteral("Gesamtwertung"), "RankingsChoice");
    CurrentHeatChoice->setChecked(true);
    if (meeting_.rankings.empty()) {
        RankingsChoice->setEnabled(false);
        RankingsChoice->setToolTip(
            QStringLiteral("Eine Gesamtwertung gibt es, sobald eine Disziplin und Klasse in mehr als einem Lauf "
                           "eingetragen ist."));
    }
    connect(choices, &QActionGroup::triggered, this, &TResultsPreview::choose);

    NoPrinterNote = new QLabel(QStringLiteral("Kein Drucker eingerichtet: Die Vorschau zeigt die Liste, "
                                              "„Drucken“ schreibt sie nur in eine PDF-Datei."),
                               this);
    NoPrinterNote->setObjectName(QStringLiteral("NoPrinterNote"));
    NoPrinterNote->setContentsMargins(8, 4, 8, 6);
    NoPrinterNote->setWordWrap(true);
    layout()->addWidget(NoPrinterNote);
    NoPrinterNote->setVisible(!printerPresent);

    connect(this, &QPrintPreviewDialog::paintRequested, this, &TResultsPreview::paintPages);
    localiseZoom();
    choose(CurrentHeatChoice);
}

namespace {

QString zoomText(double percent)
{
    const QLocale locale;
    return locale.toString(percent, 'f', std::abs(percent - std::round(percent)) < 0.05 ? 0 : 1) + QStringLiteral(" %");
}

} // namespace

void TResultsPreview::localiseZoom()
{
    // Qt's zoom box writes its factors as a C program would ("38.8%") and reads only that. The desk
    // writes them as the locale does ("38,8 %") and reads what the operator types in either way.
    ZoomBox = findChild<QComboBox *>();
    if (!ZoomBox || !ZoomBox->lineEdit())
        return;
    QLineEdit *edit = ZoomBox->lineEdit();
    disconnect(ZoomBox, nullptr, this, nullptr);
    disconnect(edit, nullptr, this, nullptr);
    for (int i = 0; i < ZoomBox->count(); ++i) {
        const double percent = ZoomBox->itemText(i).remove(QLatin1Char('%')).trimmed().toDouble();
        ZoomBox->setItemText(i, zoomText(percent));
        ZoomBox->setItemData(i, percent);
    }
    static const QRegularExpression typed(QStringLiteral("^\\s*\\d{0,4}(?:[.,]\\d?)?\\s*%?\\s*$"));
    edit->setValidator(new QRegularExpressionValidator(typed, edit));
    // After every zoom the dialog writes the factor its own way: it is shown as the locale writes it.
    connect(edit, &QLineEdit::textChanged, this, [edit](const QString &text) {
        static const QRegularExpression written(QStringLiteral("^(\\d+(?:\\.\\d+)?)%$"));
        const QRegularExpressionMatch m = written.match(text);
        if (!m.hasMatch())
            return;
        const QSignalBlocker quiet(edit);
        edit->setText(zoomText(m.captured(1).toDouble()));
    });
    edit->setText(edit->text()); // the factor written before the box was taken over
    connect(ZoomBox, &QComboBox::activated, this, [this](int index) { zoomTo(ZoomBox->itemData(index).toDouble()); });
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
        QString text = edit->text().remove(QLatin1Char('%')).trimmed();
        text.replace(QLatin1Char('.'), QLocale().decimalPoint());
        bool ok = false;
        const double percent = QLocale().toDouble(text, &ok);
        if (ok)
            zoomTo(percent);
    });
}

void TResultsPreview::zoomTo(double percent)
{
    percent = std::clamp(percent, 1.0, 1000.0);
    // A factor of one's own ends fitting the page or its width.
    for (const char *name : {"fitWidthAction", "fitPageAction"})
        if (QAction *fit = findChild<QAction *>(QLatin1String(name)))
            fit->setChecked(false);
    Preview->setZoomFactor(percent / 100.0);
    ZoomBox->lineEdit()->setText(zoomText(percent));
}

void TResultsPreview::choose(QAction *choice)
{
    shown_ = results::ResultsDocument{meeting_.title, meeting_.date, {}, {}};
    if (choice == AllHeatsChoice) {
        shown_.heats = meeting_.heats;
    } else if (choice == RankingsChoice) {
        shown_.rankings = meeting_.rankings;
    } else if (!meeting_.heats.empty()) {
        const auto it = std::find_if(meeting_.heats.begin(), meeting_.heats.end(),
                                     [this](const results::HeatResult &h) { return h.heat == currentHeat_; });
        shown_.heats.push_back(it != meeting_.heats.end() ? *it : meeting_.heats.back());
    }
    // Before the dialog is shown its first showing paints the pages.
    if (isVisible())
        Preview->updatePreview();
}

void TResultsPreview::paintPages(QPrinter *printer)
{
    // A long list is drawn page by page, and between the pages the desk goes on: its clock, its
    // lines and its lane keys never wait for a whole meeting's pages. Meanwhile the dialog takes no
    // input, and the preview, whose old pages are gone, shows nothing new until the last page.
    QElapsedTimer slice;
    slice.start();
    bool yielded = false;
    const auto afterPage = [&] {
        if (!isVisible() || slice.elapsed() < YieldMs)
            return;
        if (!yielded) {
            yielded = true;
            setEnabled(false);
            Preview->setUpdatesEnabled(false);
        }
        QCoreApplication::processEvents();
        slice.restart();
    };
    results::paintResults(*printer, shown_, QDateTime::currentDateTime(), afterPage);
    if (yielded) {
        Preview->setUpdatesEnabled(true);
        setEnabled(true);
        Preview->setFocus();
    }
}
