// Pictures for the operator's manual: renders the real windows of the desk offscreen and writes
// them as PNG files, together with the wiring sketch of the 9-pin connector.
//
//   zielkron-screenshots OUTPUT-FOLDER [RESOURCES-FOLDER]
//
// The desk runs on the platform fakes: settings in memory, no sound, and one virtual line for
// COM1 in a temporary devices folder, so no real serial device and no real settings are touched.

#include "CfgDialog.h"
#include "Comms.h"
#include "DateTimePicker.h"
#include "FakePlatform.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "FrameLine.h"
#include "HelpWindow.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "LineLamps.h"
#include "ResultsList.h"
#include "ResultsSheet.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TimeText.h"
#include "VirtualLines.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#ifndef ZK_SOURCE_DIR
#define ZK_SOURCE_DIR "."
#endif

namespace {

QDir outDir;
bool failed = false;

void save(const QPixmap &picture, const char *name)
{
    const QString path = outDir.filePath(QString::fromLatin1(name));
    if (picture.isNull() || !picture.save(path, "PNG")) {
        std::fprintf(stderr, "zielkron-screenshots: %s kann nicht geschrieben werden\n", qPrintable(path));
        failed = true;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void settle(int ms = 30)
{
    QDeadlineTimer until(ms);
    while (!until.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

template <typename Condition>
bool waitFor(Condition condition, int ms)
{
    QDeadlineTimer until(ms);
    while (!condition()) {
        if (until.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// ---- the wiring sketch ------------------------------------------------------------------------

// The solder side of the cable's socket, which is also the view onto the PC's plug: pins 1..5 in
// the upper row from left to right, 6..9 below.
void drawConnector(QPainter &p, QPointF origin, const QString &title)
{
    const double pitch = 46;
    QPainterPath shell;
    const double w = 5 * pitch + 20, h = 120;
    shell.moveTo(origin + QPointF(0, 0));
    shell.lineTo(origin + QPointF(w, 0));
    shell.lineTo(origin + QPointF(w - 24, h));
    shell.lineTo(origin + QPointF(24, h));
    shell.closeSubpath();
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.setBrush(QColor(225, 225, 225));
    p.drawPath(shell);

    std::array<QPointF, 10> pins{};
    for (int n = 1; n <= 5; ++n)
        pins[n] = origin + QPointF(10 + pitch / 2 + (n - 1) * pitch, 38);
    for (int n = 6; n <= 9; ++n)
        pins[n] = origin + QPointF(10 + pitch + (n - 6) * pitch, 86);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(15);
    f.setBold(true);
    p.setFont(f);
    for (int n = 1; n <= 9; ++n) {
        p.setPen(QPen(Qt::black, 2));
        p.setBrush(QColor(250, 215, 80));
        p.drawEllipse(pins[n], 15, 15);
        p.drawText(QRectF(pins[n] - QPointF(15, 15), QSizeF(30, 30)), Qt::AlignCenter, QString::number(n));
    }
    f.setPixelSize(17);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRectF(origin.x() - 40, origin.y() - 62, w + 80, 26), Qt::AlignCenter, title);
    f.setBold(false);
    f.setPixelSize(13);
    p.setFont(f);
    p.drawText(QRectF(origin.x() - 60, origin.y() - 36, w + 120, 20), Qt::AlignCenter,
               QStringLiteral("Lötseite der Buchse = Blick auf den Stecker am PC"));
}

// One port as a terminal strip: the pins in the order 1, 4, 6, 7, 8, 5, so that every contact of
// the desk bridges two neighbouring terminals; each contact drawn as an open switch with its label.
void drawPortScheme(QPainter &p, QPointF origin, const QString &title, const QString (&contacts)[3],
                    const QColor (&colours)[3])
{
    static const int pins[] = {1, 4, 6, 7, 8, 5};
    static const char *const signal[] = {"DCD", "DTR", "DSR", "RTS", "CTS", "GND"};
    const double step = 62;
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(17);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRectF(origin.x() - 60, origin.y() - 40, 420, 24), Qt::AlignLeft, title);

    std::array<QPointF, 6> at{};
    for (int k = 0; k < 6; ++k) {
        at[k] = origin + QPointF(40, 10 + k * step);
        f.setPixelSize(14);
        f.setBold(false);
        p.setFont(f);
        p.setPen(k == 5 ? QColor(140, 140, 140) : Qt::black);
        p.drawText(QRectF(at[k].x() - 100, at[k].y() - 10, 62, 20), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromLatin1(signal[k]));
        p.setPen(QPen(k == 5 ? QColor(140, 140, 140) : Qt::black, 2));
        p.setBrush(k == 5 ? QColor(235, 235, 235) : QColor(250, 215, 80));
        p.drawEllipse(at[k], 15, 15);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(at[k] - QPointF(15, 15), QSizeF(30, 30)), Qt::AlignCenter, QString::number(pins[k]));
    }

    // Contacts between terminals 0-1 (pins 1+4), 1-2 (4+6) and 3-4 (7+8).
    const int from[] = {0, 1, 3};
    for (int c = 0; c < 3; ++c) {
        if (contacts[c].isEmpty())
            continue;
        const QPointF a = at[from[c]], b = at[from[c] + 1];
        const double x = a.x() + 80;
        const double mid = (a.y() + b.y()) / 2;
        p.setPen(QPen(colours[c], 3));
        p.setBrush(Qt::NoBrush);
        p.drawLine(a + QPointF(15, 0), QPointF(x, a.y()));
        p.drawLine(b + QPointF(15, 0), QPointF(x, b.y()));
        p.drawLine(QPointF(x, a.y()), QPointF(x, mid - 14));
        p.drawLine(QPointF(x, mid + 14), QPointF(x, b.y()));
        p.drawLine(QPointF(x, mid + 14), QPointF(x + 14, mid - 12)); // the open switch
        p.setBrush(colours[c]);
        p.drawEllipse(QPointF(x, mid - 14), 3.5, 3.5);
        p.drawEllipse(QPointF(x, mid + 14), 3.5, 3.5);
        f.setPixelSize(15);
        f.setBold(true);
        p.setFont(f);
        p.setPen(colours[c]);
        p.drawText(QRectF(x + 28, mid - 11, 300, 22), Qt::AlignLeft | Qt::AlignVCenter, contacts[c]);
    }
}

QPixmap drawWiring()
{
    QPixmap pm(1140, 540);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    drawConnector(p, QPointF(30, 110), QStringLiteral("9-poliger Anschluss (D-Sub)"));

    const QColor green(0, 110, 0), red(190, 0, 0), blue(0, 60, 170);
    const QString port1[3] = {QStringLiteral("Bahn 1 (Pin 1 + 4)"), QStringLiteral("Startkontakt (Pin 4 + 6)"),
                              QStringLiteral("Ziel-Lichtschranke (Pin 7 + 8)")};
    drawPortScheme(p, QPointF(420, 90), QStringLiteral("Port 1 – Start, Ziel, Bahn 1"), port1, {blue, green, red});
    const QString port2[3] = {QStringLiteral("Bahn 2 (Pin 1 + 4)"), QStringLiteral("Bahn 3 (Pin 4 + 6)"),
                              QStringLiteral("Bahn 4 (Pin 7 + 8)")};
    drawPortScheme(p, QPointF(830, 90), QStringLiteral("Port 2 – Bahnen 2, 3, 4"), port2, {blue, blue, blue});

    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(14);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRectF(30, 300, 330, 240), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Jeder Kontakt ist potentialfrei (Schalter oder Relaisausgang der Lichtschranke). "
                              "DTR (Pin 4) und RTS (Pin 7) führen Spannung, solange das Pult den Port offen hat; "
                              "ein geschlossener Kontakt macht die Eingangsleitung aktiv.\n\n"
                              "Port 3 und Port 4 wie Port 2: Bahnen 5, 6, 7 und Bahnen 8, 9, 10.\n\n"
                              "Pin 5 (GND) nur für Geräte mit eigenem RS-232-Ausgang: "
                              "Ausgang an die Eingangsleitung, Masse an Pin 5."));
    return pm;
}

// ---- the desk ----------------------------------------------------------------------------------

void fillLanes(TFormMain &form)
{
    static const char *const names[] = {"Jonas Berger", "Lukas Hoffmann", "Felix Schäfer", "Paul Wagner",
                                        "Leon Köhler", "Maximilian Brandt", "Elias Vogel", "Noah Lehmann"};
    static const char *const numbers[] = {"112", "87", "245", "31", "158", "402", "66", "219"};
    for (int lane = 1; lane <= 8; ++lane) {
        form.Line(lane)->eNum->setText(QString::fromLatin1(numbers[lane - 1]));
        form.Line(lane)->eName->setText(QString::fromUtf8(names[lane - 1]));
    }
}

void stopLane(TFormMain &form, fake::Platform &fp, std::uint32_t start, int lane, std::int32_t ms)
{
    fp.ticks.now = start + static_cast<std::uint32_t>(ms);
    form.StopClick(lane);
}

// ---- the results list -----------------------------------------------------------------------

// Two heats of the 100 m entered into the results table, as after two races.
void enterTwoHeats(TFormMain &form)
{
    struct Lane {
        const char *number, *name, *club, *time, *place;
    };
    static const Lane heats[2][8] = {
        {{"112", "Jonas Berger", "LG Nord Berlin", "11,12 ", "7"},
         {"87", "Lukas Hoffmann", "TSV Bayer Leverkusen", "10,89 ", "5"},
         {"245", "Felix Schäfer", "SC Magdeburg", "10,63 ", "3"},
         {"31", "Paul Wagner", "LAZ Leipzig", "10,23 ", "1"},
         {"158", "Leon Köhler", "LG Stadtwerke München", "10,41 ", "2"},
         {"402", "Maximilian Brandt", "TV Wattenscheid 01", "10,70 ", "4"},
         {"66", "Elias Vogel", "MTG Mannheim", "10,94 ", "6"},
         {"219", "Noah Lehmann", "SCC Berlin", "", "aufg."}},
        {{"301", "Ben Schröder", "LG Eintracht Frankfurt", "10,52 ", "2"},
         {"95", "Finn Neumann", "ASV Köln", "10,77 ", "4"},
         {"133", "Tim Schwarz", "LC Paderborn", "10,41 ", "1"},
         {"278", "Jan Zimmermann", "LG Olympia Dortmund", "10,63 ", "3"},
         {"17", "Luca Krüger", "SV Halle", "", "disq."},
         {"350", "Moritz Hartmann", "TSV Erding", "11,05 ", "6"},
         {"204", "Niklas Werner", "LG Offenburg", "10,86 ", "5"},
         {"", "", "", "", ""}}};
    meeting::Record *table = &form.Model.recordToWrite();
    table->setRowCount(TFormMain::HeatHeaderRow(3, 8));
    table->setCell(0, 0, QStringLiteral("Kreismeisterschaften"));
    table->setCell(0, 1, QStringLiteral("14.05.2027"));
    const char *const winds[] = {"0,5 m/s", "-0,3 m/s"};
    for (int h = 1; h <= 2; ++h) {
        const int header = TFormMain::HeatHeaderRow(h, 8);
        table->setCell(0, header, QString::number(h));
        table->setCell(1, header, QStringLiteral("Vorlauf"));
        table->setCell(2, header, QStringLiteral("100 m"));
        table->setCell(3, header, QStringLiteral("Männer"));
        table->setCell(4, header, QString::fromLatin1(winds[h - 1]));
        for (int i = 1; i <= 8; ++i) {
            const Lane &l = heats[h - 1][i - 1];
            table->setCell(0, header + i, QString::number(i) + QLatin1Char('.'));
            table->setCell(1, header + i, QString::fromUtf8(l.number));
            table->setCell(2, header + i, QString::fromUtf8(l.name));
            table->setCell(4, header + i, QString::fromUtf8(l.club));
            table->setCell(5, header + i, QString::fromUtf8(l.time));
            table->setCell(6, header + i, QString::fromUtf8(l.place));
        }
        form.Model.recordToWrite().entered.append(h);
    }
    form.Model.recordToWrite().lastEntered = 2;
}

// The first page of the meeting's results list, as the printer and the PDF show it.
QPixmap resultsPage(const TFormMain &form)
{
    const int dpi = 110;
    const QPageLayout layout = results::resultsPageLayout();
    QImage page(layout.fullRectPixels(dpi).size(), QImage::Format_RGB32);
    page.setDotsPerMeterX(qRound(dpi / 0.0254));
    page.setDotsPerMeterY(qRound(dpi / 0.0254));
    page.fill(Qt::white);
    const results::ResultsDocument document = form.ResultsOfMeeting();
    const QRect area = layout.paintRectPixels(dpi);
    const results::ResultsSheet sheet(document, page, area.size(), QDateTime(QDate(2027, 5, 14), QTime(11, 42)));
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(area.topLeft());
    sheet.paintPage(p, 0);
    p.resetTransform();
    p.setPen(QColor(150, 150, 150));
    p.drawRect(page.rect().adjusted(0, 0, -1, -1));
    return QPixmap::fromImage(page);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "Aufruf: zielkron-screenshots AUSGABEORDNER [RESSOURCENORDNER]\n");
        return 2;
    }
    // Nothing of the user's: settings, journal and devices live in a temporary folder.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("ZIELKRON_DEVICES", home.filePath(QStringLiteral("devices")).toLocal8Bit());
    qputenv("ZIELKRON_VIRTUAL_PORTS", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setWindowIcon(TFormInfo::DeskIcon()); // as the desk sets it
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    outDir = QDir(QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1])));
    if (!outDir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "zielkron-screenshots: Ordner %s fehlt\n", argv[1]);
        return 1;
    }
    const QDir resources(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(ZK_SOURCE_DIR "/resources"));

    QTemporaryDir work;
    for (const QString &name : resources.entryList({QStringLiteral("*.lst")}, QDir::Files))
        QFile::copy(resources.filePath(name), QDir(work.path()).filePath(name));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());

    save(drawWiring(), "verkabelung.png");

    int result = 0;
    {
        fake::Platform fp;
        // Port 1 on a virtual line, so the lamp shows an open port.
        platform::VirtualLineServer com1(fp.serial.socketFor(1));
        com1.start();

        fake::Key &key = fp.settings.keys[QStringLiteral("zielkron")];
        const std::pair<const char *, int> values[] = {
            {"Left", 0}, {"Top", 0}, {"Height", 700}, {"Sound", 1}, {"Port1", 1}, {"Port2", 0},
            {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}};
        for (const auto &[name, value] : values)
            key[QString::fromLatin1(name)] = value;
        key[QStringLiteral("Title")] = QStringLiteral("Kreismeisterschaften");
        key[QStringLiteral("LineCount")] = 8;
        key[QStringLiteral("Accuracy")] = 2;
        key[QStringLiteral("OneLS")] = 0;
        key[QStringLiteral("Wind")] = 5;
        key[QStringLiteral("DataON")] = 1;

        TFormMain form(fp.bundle(), QDir(work.path()).filePath(QStringLiteral("zielkron")));
        TCfgDialog cfg(form.AvailablePorts, &form);
        form.CfgDialog = &cfg;
        TFormInfo info(&form);
        form.FormInfo = &info;
        form.show();
        waitFor([&] { return com1.deskAttached(); }, 3000);
        settle(100);

        form.TimerDate->stop();
        form.PanelDate->setText(QStringLiteral("14:05:33"));
        form.DateTimePicker1->setDate(QDate(2027, 5, 14));
        form.cmb_Disziplin->setCurrentText(QStringLiteral("100 m"));
        form.cbKlassen->setCurrentText(QStringLiteral("Männer"));
        fillLanes(form);
        settle();
        save(form.grab(), "pult-bereit.png");

        // The settings dialog, as the settings command fills it.
        fp.dialogs.modalAnswers.push_back([](QDialog *dialog) {
            dialog->show();
            settle(60);
            save(dialog->grab(), "einstellungen.png");
            dialog->hide();
            return 0;
        });
        form.cmd_EinstellungenClick();

        fp.dialogs.modalAnswers.push_back([](QDialog *dialog) {
            dialog->show();
            settle(60);
            save(dialog->grab(), "info.png");
            dialog->hide();
            return 0;
        });
        form.bInfoClick();

        // A race in hundredths: two lanes stopped, the others running.
        fp.ticks.now = 500000;
        form.bStart2Click();
        const std::uint32_t start = static_cast<std::uint32_t>(form.Model.desk().start);
        stopLane(form, fp, start, 4, 10234);
        stopLane(form, fp, start, 5, 10412);
        fp.ticks.now = start + 10587;
        form.ClockTimer();
        settle();
        save(form.grab(), "pult-laeuft.png");

        const std::pair<int, std::int32_t> rest[] = {{3, 10633}, {6, 10708}, {2, 10899}, {7, 10945}, {1, 11120}};
        for (const auto &[lane, ms] : rest)
            stopLane(form, fp, start, lane, ms);
        form.bStopClick(); // lane 8 did not finish
        form.Line(8)->ePlatz->setText(QStringLiteral("aufg."));
        settle();
        save(form.grab(), "pult-gestoppt.png");

        // One finish barrier for all lanes: times collected in the list, two handed out.
        form.bResetClick();
        form.Model.setOneBarrier(true);
        fp.ticks.now = 900000;
        form.bStart2Click();
        const std::uint32_t start2 = static_cast<std::uint32_t>(form.Model.desk().start);
        form.ShowFinishList();
        for (std::int32_t ms : {10187, 10342, 10455, 10593, 10716, 10802, 10977, 11231}) {
            form.ListBoxStop->addItem(RaceTimeText(ms, form.Model.settings().accuracy));
            form.ListBoxStop->setCurrentRow(form.ListBoxStop->count() - 1);
        }
        fp.ticks.now = start2 + 12000;
        form.bStopClick();
        form.StopClick(5);
        form.StopClick(3);
        settle();
        save(form.grab(), "pult-ziel-liste.png");

        form.Model.setOneBarrier(false);
        form.bResetClick();

        enterTwoHeats(form);
        save(resultsPage(form), "ergebnisliste.png");

        // The help window with the manual beside these pictures, at its contents.
        const QString manual = outDir.absoluteFilePath(QStringLiteral("../index.html"));
        if (QFileInfo(manual).isFile()) {
            ManualHelpViewer help(fp.help);
            help.showManual(&form, manual, QStringLiteral("inhalt"));
            help.Window()->resize(980, 640);
            settle(100);
            save(help.Window()->grab(), "hilfefenster.png");
            help.Window()->close();
        }
        result = failed ? 1 : 0;
    }
    {
        // The lamps of the lines: COM1 and COM2 open, lane 3's barrier interrupted at the start,
        // COM3's adapter pulled out during the race, COM4 not set.
        fake::Platform fp;
        platform::VirtualLineServer com1(fp.serial.socketFor(1));
        platform::VirtualLineServer com2(fp.serial.socketFor(2));
        platform::VirtualLineServer com3(fp.serial.socketFor(3));
        com1.start();
        com2.start();
        com3.start();
        fake::Key &key = fp.settings.keys[QStringLiteral("zielkron")];
        const std::pair<const char *, int> values[] = {
            {"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 1}, {"Port2", 2}, {"Port3", 3},
            {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"LineCount", 8}, {"Accuracy", 2}};
        for (const auto &[name, value] : values)
            key[QString::fromLatin1(name)] = value;
        key[QStringLiteral("Title")] = QStringLiteral("Kreismeisterschaften");
        TFormMain form(fp.bundle(), QDir(work.path()).filePath(QStringLiteral("zielkron")));
        form.show();
        waitFor([&] { return com1.deskAttached() && com2.deskAttached() && com3.deskAttached(); }, 3000);
        form.TimerDate->stop();
        form.PanelDate->setText(QStringLiteral("14:05:33"));
        fillLanes(form);
        com2.set(platform::LineDsr, true);
        waitFor([&] { return form.LineLamps[4]->LampState() == TLineLamp::State::Interrupted; }, 3000);
        fp.ticks.now = 500000;
        form.bStart2Click();
        const std::uint32_t start = static_cast<std::uint32_t>(form.Model.desk().start);
        stopLane(form, fp, start, 1, 10234);
        com3.unplug();
        waitFor([&] { return form.ComPort3->Lost(); }, 3000);
        fp.ticks.now = start + 10587;
        form.ClockTimer();
        settle();
        // The lowest lanes, the row of lamps and the bottom panel.
        const int bottom = form.PanelLineLamps->geometry().bottom() + 48;
        save(form.grab(QRect(0, bottom - 48 - 24 - 2 * 63, form.width(), 48 + 24 + 2 * 63 + 1)), "pult-leitungen.png");
        result = failed ? 1 : result;
    }
    QDir::setCurrent(previous);
    return result;
}
