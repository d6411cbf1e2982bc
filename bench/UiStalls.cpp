// Stalls of the user-interface thread during a race: ten lanes run while the operator opens the
// help, the information window, the file dialogs, imports a start list (text and workbook),
// exports the table, picks workbooks whose reader crashes or hangs, looks at the results lists of
// a full meeting in the print preview and writes them as a PDF. A probe timer ticks every
// millisecond on the user-interface thread; the longest gap between two ticks while an action runs
// (and 200 ms after it) is its stall.
// ZK_BENCH_NO_PREPARE=1: the help window is not prepared after start-up. --busy: a busy loop runs on
// every core meanwhile.
//
//   bench_ui_stalls [--busy]  (offscreen; under an X server with QT_QPA_PLATFORM=xcb xvfb-run -a)

#include "FakePlatform.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "FullMeeting.h"
#include "GuardedApplication.h"
#include "HelpWindow.h"
#include "RealPlatform.h"
#include "ResultsPreview.h"
#include "SortGrid.h"
#include "SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintPreviewWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

namespace {

// The longest gap between two ticks of a 1 ms timer on this thread.
class Probe : public QObject {
public:
    Probe()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worst_ = std::max(worst_, now - last_);
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    void reset()
    {
        last_ = clock_.nsecsElapsed();
        worst_ = 0;
    }
    double worstMs()
    {
        // A stall still running counts up to now.
        worst_ = std::max(worst_, clock_.nsecsElapsed() - last_);
        return static_cast<double>(worst_) / 1e6;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Answers the next modal window once it is open: the file dialog gets the file (or is cancelled
// when file is empty), any other window is closed.
void answerModal(const QString &file, int afterMs = 300)
{
    QTimer::singleShot(afterMs, [file] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            if (file.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectFile(file);
                if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    edit->setText(file);
                QMetaObject::invokeMethod(dialog, "accept");
                if (dialog->isVisible()) {
                    std::printf("  the file dialog did not take %s\n", qPrintable(file));
                    dialog->reject();
                }
            }
        } else if (auto *other = qobject_cast<QDialog *>(modal)) {
            other->reject();
        } else {
            answerModal(file, 50); // not open yet
        }
    });
}

// Steps done one after the other in the print preview while it is open, each watched on its own.
struct Step {
    const char *name;
    std::function<void(TResultsPreview &)> run;
};

void previewSteps(Probe &probe, std::shared_ptr<std::vector<Step>> steps, std::size_t next = 0)
{
    QTimer::singleShot(next == 0 ? 500 : 400, [&probe, steps, next] {
        auto *preview = qobject_cast<TResultsPreview *>(QApplication::activeModalWidget());
        if (!preview) {
            std::printf("  the print preview is not open\n");
            return;
        }
        const char *name = next == 0 ? "preview open (\"Aktueller Lauf\")" : (*steps)[next - 1].name;
        std::printf("  %-42s longest stall %6.1f ms\n", name, probe.worstMs());
        if (next == steps->size()) {
            preview->reject();
            return;
        }
        probe.reset();
        (*steps)[next].run(*preview);
        previewSteps(probe, steps, next + 1);
    });
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const bool busy = argc > 1 && std::strcmp(argv[1], "--busy") == 0;
    platform::GuardedApplication::prepareDisplay();
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir dir;
    fake::Platform fp;
    platform::MonotonicTicks ticks;
    platform::QtDialogs dialogs;
    ManualHelpViewer help(fp.help);
    platform::Platform services{ticks, fp.sound, fp.settings, dialogs, help, fp.fileTypes, fp.serial.devices, fp.spreadsheet, fp.realtime};
    fp.settings.keys[QStringLiteral("bench")] = {
        {"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0}, {"Port3", 0},
        {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"}, {"LineCount", 10},
        {"Accuracy", 2}};
    // The program "lives" in the build folder, so the manual beside it is the desk's own.
    TFormMain form(services, QDir(QStringLiteral(ZK_BUILD_DIR)).filePath(QStringLiteral("bench")));
    TFormInfo info(&form);
    form.FormInfo = &info;
    form.show();
    runFor(500);
    // As the desk does after start-up, with no race running.
    if (!qEnvironmentVariableIsSet("ZK_BENCH_NO_PREPARE"))
        help.prepare(&form, form.ManualFile);
    runFor(500);

    // The largest start list the desk reads, as text (2,000 lines) and as a workbook (2,000 rows,
    // written by the export of the imported text list).
    const QString text = dir.filePath(QStringLiteral("liste.txt"));
    {
        QFile f(text);
        f.open(QIODevice::WriteOnly);
        f.write("Hallenmeeting\n14.05.2027\n");
        for (int i = 2; i < 2000; ++i)
            f.write(i % 11 == 2 ? QByteArray("1\t\t100 m\tMänner\n")
                                : QByteArray::number(i % 11 - 2) + ".\t" + QByteArray::number(100 + i)
                                      + "\tJürgen Weißmüller\t\tLG Nord\n");
    }
    // A wrong file: 100,000 lines, refused.
    const QString wrong = dir.filePath(QStringLiteral("saison.txt"));
    {
        QFile f(wrong);
        f.open(QIODevice::WriteOnly);
        for (int i = 0; i < 100000; ++i)
            f.write("1.\t123\tJürgen Weißmüller\t\tLG Nord\n");
    }
    const QString book = dir.filePath(QStringLiteral("liste.xlsx"));
    const QString exported = dir.filePath(QStringLiteral("ergebnis.xlsx"));
    const QString crashing = dir.filePath(QStringLiteral("absturz.xlsx"));
    const QString hanging = dir.filePath(QStringLiteral("haengt.xlsx"));
    for (const auto &[file, content] : {std::pair{crashing, "ZK-TEST-CRASH"}, std::pair{hanging, "ZK-TEST-HANG"}}) {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }

    // A message box would wait for an answer: its text is printed and it is closed.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("  message: %s\n", qPrintable(box->text()));
            box->reject();
        }
    });
    boxes.start(700);

    Probe probe;
    form.mStart->trigger();
    runFor(500);
    struct Action {
        const char *name;
        std::function<void()> run;
        int settleMs = 200; // watched after the action
    };
    const std::vector<Action> actions{
        {"help, first time", [&] { form.bHilfe->click(); }},
        {"help closed and opened again", [&] {
             help.Window()->hide();
             form.bHilfe->click();
         }},
        {"information window", [&] {
             help.Window()->hide();
             answerModal({});
             form.bInfo->click();
         }},
        {"start-list dialog, cancelled (first time)", [&] {
             answerModal({});
             form.bOpen->click();
         }},
        {"start-list dialog, cancelled again", [&] {
             answerModal({});
             form.bOpen->click();
         }},
        {"text start list, 2,000 lines", [&] {
             form.OpenDialog1.FilterIndex = 1;
             answerModal(text);
             form.bOpen->click();
         }},
        {"text file of 100,000 lines, refused", [&] {
             form.OpenDialog1.FilterIndex = 1;
             answerModal(wrong);
             form.bOpen->click();
         }, 1000}, // until the message box is closed
        {"workbook export, 2,000 rows", [&] {
             form.SaveDialog1.FilterIndex = 2;
             answerModal(exported);
             form.mExport->trigger();
         }},
        {"workbook start list, 2,000 rows", [&] {
             QFile::copy(exported, book);
             form.OpenDialog1.FilterIndex = 2;
             answerModal(book);
             form.bOpen->click();
         }},
        {"heat change", [&] { form.seLauf->setValue(form.seLauf->Value() + 1); }},
        // A workbook whose reader crashes, and one whose reader hangs until it is killed (10 s).
        {"workbook whose reader crashes", [&] {
             fp.spreadsheet.engine.reader.program = QStringLiteral(ZK_READER_WITH_TEST_HOOKS);
             form.OpenDialog1.FilterIndex = 2;
             answerModal(crashing);
             form.bOpen->click();
         }, 1000},
        {"workbook whose reader hangs", [&] {
             // The wait alone, from 1 s to 9 s into it.
             QTimer::singleShot(1000, [&] { probe.reset(); });
             QTimer::singleShot(9000, [&] { std::printf("  while waiting for it: longest stall %.1f ms\n", probe.worstMs()); });
             form.OpenDialog1.FilterIndex = 2;
             answerModal(hanging);
             form.bOpen->click();
         }, 11000},
        {"print preview of a full meeting, closed", [&] {
             fillFullMeeting(form);
             auto steps = std::make_shared<std::vector<Step>>(std::vector<Step>{
                 {"\"Alle Läufe\": 100 heats", [](TResultsPreview &p) { p.AllHeatsChoice->trigger(); }},
                 {"last page", [](TResultsPreview &p) { p.Preview->setCurrentPage(p.Preview->pageCount()); }},
                 {"facing pages", [](TResultsPreview &p) {
                      p.findChild<QAction *>(QStringLiteral("facingModeAction"))->trigger();
                  }},
                 {"\"Gesamtwertung\": 4 rankings of 250", [](TResultsPreview &p) { p.RankingsChoice->trigger(); }},
                 {"one page again", [](TResultsPreview &p) {
                      p.findChild<QAction *>(QStringLiteral("singleModeAction"))->trigger();
                  }},
                 {"\"Aktueller Lauf\"", [](TResultsPreview &p) { p.CurrentHeatChoice->trigger(); }},
             });
             previewSteps(probe, steps);
             form.mPrint->trigger();
         }},
        {"print preview opened again and closed", [&] {
             previewSteps(probe, std::make_shared<std::vector<Step>>());
             form.mPrint->trigger();
         }},
        {"PDF export of a full meeting (60 pages)", [&] {
             form.SaveDialog1.FilterIndex = 5; // text, workbook, CSV, .lif, PDF
             answerModal(dir.filePath(QStringLiteral("ergebnisse.pdf")));
             form.mExport->trigger();
         }},
    };
    const std::vector<pid_t> loops = busy ? startBusyLoops() : std::vector<pid_t>{};
    std::printf("%s\n", busy ? "busy loops on every core" : "no other load");
    for (const Action &a : actions) {
        runFor(300);
        probe.reset();
        a.run();
        runFor(a.settleMs);
        std::printf("%-44s longest stall %6.1f ms\n", a.name, probe.worstMs());
    }
    stopBusyLoops(loops);
    std::printf("table rows after the imports: %d\n", form.SortGrid1->RowCount());
    return 0;
}
