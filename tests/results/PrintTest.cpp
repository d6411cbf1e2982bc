// The results lists at the desk: the print preview (Ctrl+P) with its choice of what it shows, the
// lane keys while it is open during a race, and the PDF export of the whole meeting.

#include "DeskFixture.h"

#include "Label3D.h"
#include "LbSpeedButton.h"
#include "Journal.h"
#include "JournalFile.h"
#include "PdfText.h"
#include "ResultsList.h"
#include "ResultsPreview.h"
#include "SpinEdit.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewWidget>
#include <QRegularExpression>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct Meeting : Desk {
    TFormMain *f;
    Meeting()
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
                 {"Title", "Hallenmeeting"}, {"LineCount", 4}, {"Accuracy", 2}};
        f = &create();
        f->cmb_Disziplin->setEditText(QStringLiteral("60 m"));
        f->cbKlassen->setEditText(QStringLiteral("Frauen"));
    }
    QString path(const QString &name) { return QDir(workDir.path()).filePath(name); }
    // Runs a heat with the lanes stopping in the given order at the given times.
    void race(const QString &prefix, const QList<std::pair<int, int>> &stops)
    {
        for (int lane = 1; lane <= f->Model.lanes(); ++lane)
            f->Line(lane)->eName->setText(prefix + QString::number(lane));
        f->mStart->trigger();
        for (const auto &[lane, ms] : stops) {
            fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + static_cast<std::uint32_t>(ms);
            f->StopEntry(lane)->trigger();
        }
    }
    void enter(const QString &prefix, const QList<std::pair<int, int>> &stops)
    {
        race(prefix, stops);
        f->mStop->trigger();
        f->mEintragen->trigger();
    }
    // Answers the next modal window with a check of the preview; the window is shown meanwhile.
    void onPreview(std::function<void(TResultsPreview &)> check)
    {
        fp.dialogs.modalAnswers.push_back([check](QDialog *dialog) {
            auto *preview = qobject_cast<TResultsPreview *>(dialog);
            EXPECT_NE(preview, nullptr);
            if (preview) {
                preview->show();
                check(*preview);
                preview->hide();
            }
            return 0;
        });
    }
    // What the preview prints now, as the pages' texts.
    QStringList printed(TResultsPreview &preview)
    {
        const QString file = path(QStringLiteral("druck.pdf"));
        preview.printer()->setOutputFormat(QPrinter::PdfFormat);
        preview.printer()->setOutputFileName(file);
        preview.Preview->print();
        QFile pdf(file);
        EXPECT_TRUE(pdf.open(QIODevice::ReadOnly));
        return pdf::pages(pdf.readAll());
    }
    void choose(const QString &file, int type)
    {
        fp.dialogs.fileAnswers.push_back([file, type](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = type;
            return true;
        });
    }
};

constexpr int kPdfType = 5; // text, workbook, CSV, .lif, PDF

} // namespace

TEST(Print, WithoutAnEnteredHeatThereIsAMessageAndNoListNorFile)
{
    Meeting m;
    m.f->mPrint->trigger();
    ASSERT_EQ(m.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(m.fp.dialogs.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_TRUE(m.fp.dialogs.messages[0].text.startsWith(QStringLiteral("Es ist noch kein Lauf eingetragen")));
    EXPECT_TRUE(m.fp.dialogs.modals.isEmpty());

    m.choose(m.path(QStringLiteral("ergebnisse.pdf")), kPdfType);
    m.f->mExport->trigger();
    EXPECT_EQ(m.fp.dialogs.messages.size(), 2);
    EXPECT_FALSE(QFile::exists(m.path(QStringLiteral("ergebnisse.pdf"))));
    EXPECT_EQ(QDir(m.workDir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

TEST(Print, ThePreviewShowsTheCurrentHeatAllHeatsOrTheRankings)
{
    Meeting m;
    TFormMain &f = *m.f;
    m.race(QStringLiteral("A"), {{2, 7810}, {1, 7900}, {3, 8020}});
    f.mStop->trigger();
    f.Model.setPlaceText(4, QStringLiteral("Aus")); // listed with its text after the places
    f.mEintragen->trigger();
    m.enter(QStringLiteral("B"), {{4, 7900}, {1, 7950}});
    m.enter(QStringLiteral("C"), {{1, 8100}});
    f.seLauf->setValue(2); // looking at heat 2 again: that is the current heat
    m.fp.printers.names = {QStringLiteral("Buero")};

    bool checked = false;
    m.onPreview([&](TResultsPreview &p) {
        checked = true;
        EXPECT_TRUE(p.CurrentHeatChoice->isChecked());
        EXPECT_TRUE(p.NoPrinterNote->isHidden());
        EXPECT_TRUE(p.RankingsChoice->isEnabled());
        EXPECT_EQ(p.Preview->pageCount(), 1);
        QStringList pages = m.printed(p);
        ASSERT_EQ(pages.size(), 1);
        EXPECT_TRUE(pages[0].contains(QStringLiteral("Vorlauf 2 · 60 m · Frauen"))) << pages[0].toStdString();
        EXPECT_FALSE(pages[0].contains(QStringLiteral("Vorlauf 1")));

        p.AllHeatsChoice->trigger();
        EXPECT_EQ(p.Shown().heats.size(), 3u);
        EXPECT_TRUE(p.Shown().rankings.empty());
        pages = m.printed(p);
        const QString all = pages.join(QLatin1Char('\f'));
        EXPECT_LT(all.indexOf(QStringLiteral("Vorlauf 1 ·")), all.indexOf(QStringLiteral("Vorlauf 2 ·")));
        EXPECT_LT(all.indexOf(QStringLiteral("Vorlauf 2 ·")), all.indexOf(QStringLiteral("Vorlauf 3 ·")));
        EXPECT_FALSE(all.contains(QStringLiteral("Gesamtwertung")));

        p.RankingsChoice->trigger();
        pages = m.printed(p);
        ASSERT_EQ(pages.size(), 1);
        EXPECT_TRUE(pages[0].contains(QStringLiteral("Gesamtwertung · Vorlauf · 60 m · Frauen")));
        // 7,81 and 7,90 twice (heats 1 and 2), then 7,95 ...; "Aus" at the end.
        static const QRegularExpression order(QStringLiteral(
            "1\\s+1\\s+2\\s+A2\\s+7,81.*\\n\\s*2\\s+1\\s+1\\s+A1\\s+7,90.*\\n\\s*2\\s+2\\s+4\\s+B4\\s+7,90.*\\n"
            "\\s*4\\s+2\\s+1\\s+B1\\s+7,95"),
            QRegularExpression::DotMatchesEverythingOption);
        EXPECT_TRUE(order.match(pages[0]).hasMatch()) << pages[0].toStdString();
        EXPECT_GT(pages[0].indexOf(QStringLiteral("Aus")), pages[0].indexOf(QStringLiteral("C1")));
    });
    f.mPrint->trigger();
    EXPECT_TRUE(checked);

    // After the next entry the current heat is the one just entered; no printer: the preview says so.
    f.seLauf->setValue(4);
    m.enter(QStringLiteral("D"), {{3, 8000}});
    m.fp.printers.names.clear();
    m.onPreview([&](TResultsPreview &p) {
        EXPECT_FALSE(p.NoPrinterNote->isHidden());
        EXPECT_EQ(p.Shown().heats.size(), 1u);
        EXPECT_EQ(p.Shown().heats.at(0).heat, 4);
        EXPECT_EQ(p.Preview->pageCount(), 1);
        // The zoom factor as German writes numbers, whatever the dialog does to it.
        ASSERT_NE(p.ZoomBox, nullptr);
        EXPECT_EQ(p.ZoomBox->itemText(0), QStringLiteral("12,5 %"));
        QAction *fitPage = p.findChild<QAction *>(QStringLiteral("fitPageAction"));
        ASSERT_NE(fitPage, nullptr);
        fitPage->trigger();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+(,\\d)? %$")).match(p.ZoomBox->currentText()).hasMatch())
            << p.ZoomBox->currentText().toStdString();
        p.ZoomBox->lineEdit()->setText(QStringLiteral("38,8"));
        emit p.ZoomBox->lineEdit()->editingFinished();
        EXPECT_DOUBLE_EQ(p.Preview->zoomFactor(), 0.388);
        EXPECT_EQ(p.ZoomBox->currentText(), QStringLiteral("38,8 %"));
        p.ZoomBox->activated(1);
        EXPECT_DOUBLE_EQ(p.Preview->zoomFactor(), p.ZoomBox->itemData(1).toDouble() / 100);
    });
    f.mPrint->trigger();
    EXPECT_EQ(m.fp.dialogs.modals.size(), 2);
}

TEST(Print, LaneKeysAndStoppStillActWhileThePreviewIsOpenDuringARace)
{
    Meeting m;
    TFormMain &f = *m.f;
    m.enter(QStringLiteral("A"), {{1, 7810}});
    m.race(QStringLiteral("B"), {});
    m.onPreview([&](TResultsPreview &p) {
        m.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 8120;
        QTest::keyClick(p.Preview, Qt::Key_F3);
        EXPECT_EQ(f.Line(3)->ePlatz->Caption(), QStringLiteral("1"));
        QTest::keyClick(p.Preview, Qt::Key_S, Qt::AltModifier);
        EXPECT_FALSE(f.bStop->isEnabled()); // the race is stopped
        EXPECT_TRUE(f.bProtokoll->isEnabled());
        EXPECT_TRUE(p.isVisible());
    });
    f.mPrint->trigger();
    EXPECT_EQ(f.Line(3)->LabelTime->text().trimmed(), QStringLiteral("8,12"));
    EXPECT_TRUE(f.Line(1)->LabelTime->text().trimmed().isEmpty()); // blanked by STOPP
}

TEST(Print, ALongListLetsTheRaceGoOnBetweenItsPages)
{
    Meeting m;
    TFormMain &f = *m.f;
    for (int heat = 1; heat <= 30; ++heat)
        m.enter(QStringLiteral("L%1-").arg(heat), {{1, 7800}, {2, 7900}, {3, 8000}, {4, 8100}});
    m.race(QStringLiteral("R"), {});
    m.onPreview([&](TResultsPreview &p) {
        p.YieldMs = 0; // the desk's events between every two pages
        bool during = false;
        QTimer::singleShot(0, &p, [&] {
            // The dialog takes no input while the preview has no pages to show; the lane keys act.
            during = !p.isEnabled() && !p.Preview->updatesEnabled();
            m.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 8120;
            QTest::keyClick(p.Preview, Qt::Key_F2);
        });
        p.AllHeatsChoice->trigger();
        EXPECT_TRUE(during);
        EXPECT_EQ(f.Line(2)->ePlatz->Caption(), QStringLiteral("1"));
        EXPECT_EQ(p.Preview->pageCount(), 6); // five heats of four lanes to a page
        EXPECT_TRUE(p.isEnabled());
        EXPECT_TRUE(p.Preview->updatesEnabled());
    });
    f.mPrint->trigger();
    EXPECT_EQ(f.Line(2)->LabelTime->text().trimmed(), QStringLiteral("8,12"));
}

TEST(Print, APdfExportDuringARaceLetsTheRaceGoOn)
{
    Meeting m;
    TFormMain &f = *m.f;
    for (int heat = 1; heat <= 30; ++heat)
        m.enter(QStringLiteral("L%1-").arg(heat), {{1, 7800}, {2, 7900}, {3, 8000}, {4, 8100}});
    m.race(QStringLiteral("R"), {});
    bool during = false;
    QTimer::singleShot(0, &f, [&] {
        // Between two pages: a lane stops; export and print wait for the file.
        during = f.DrawingLists;
        m.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 8120;
        f.StopEntry(2)->trigger();
        f.mExport->trigger();
        f.mPrint->trigger();
    });
    m.choose(m.path(QStringLiteral("ergebnisse.pdf")), kPdfType);
    f.mExport->trigger();
    EXPECT_TRUE(during);
    EXPECT_FALSE(f.DrawingLists);
    EXPECT_EQ(f.Line(2)->LabelTime->text().trimmed(), QStringLiteral("8,12"));
    EXPECT_EQ(m.fp.dialogs.fileRequests.size(), 1);
    EXPECT_TRUE(m.fp.dialogs.modals.isEmpty());
    QFile file(m.path(QStringLiteral("ergebnisse.pdf")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList pages = pdf::pages(file.readAll());
    EXPECT_TRUE(pages.join(QLatin1Char('\f')).contains(QStringLiteral("Vorlauf 30 · 60 m · Frauen")));
}

TEST(Print, ThePdfExportWritesTheWholeMeetingOrNothing)
{
    Meeting m;
    TFormMain &f = *m.f;
    m.enter(QStringLiteral("Jürgen "), {{2, 7810}, {1, 7900}});
    m.enter(QStringLiteral("Björn "), {{1, 7700}});

    const QString target = m.path(QStringLiteral("ergebnisse"));
    m.choose(target, kPdfType); // the type's extension is added
    f.bSave->click();
    QFile file(target + QStringLiteral(".pdf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    const QString text = pdf::pages(bytes).join(QLatin1Char('\f'));
    const qsizetype one = text.indexOf(QStringLiteral("Vorlauf 1 · 60 m · Frauen"));
    const qsizetype two = text.indexOf(QStringLiteral("Vorlauf 2 · 60 m · Frauen"));
    const qsizetype ranking = text.indexOf(QStringLiteral("Gesamtwertung · Vorlauf · 60 m · Frauen"));
    EXPECT_TRUE(one >= 0 && one < two && two < ranking) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Jürgen 2"))) << text.toStdString();
    EXPECT_EQ(f.SaveDialog1.FilterIndex, kPdfType);
    EXPECT_TRUE(m.fp.dialogs.messages.isEmpty());

    // A target that cannot be written: the export's error box, the old file intact, no leftovers.
    m.fp.files.failure = [](const QString &call) { return call.startsWith(QStringLiteral("write ")) ? ENOSPC : 0; };
    m.choose(target + QStringLiteral(".pdf"), kPdfType);
    f.bSave->click();
    ASSERT_EQ(m.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(m.fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
    EXPECT_TRUE(m.fp.dialogs.messages[0].text.contains(QStringLiteral("ergebnisse.pdf")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    EXPECT_EQ(QDir(m.workDir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("ergebnisse.pdf")});

    m.fp.files.failure = nullptr;
    m.choose(m.path(QStringLiteral("fehlt/ergebnisse.pdf")), kPdfType);
    f.bSave->click();
    EXPECT_EQ(m.fp.dialogs.messages.size(), 2);
    EXPECT_FALSE(QFile::exists(m.path(QStringLiteral("fehlt/ergebnisse.pdf"))));
}

TEST(Print, TruncatedTiesAcrossHeatsAreDecidedByTheirThousandths)
{
    // 10,231 (heat 1), 10,233 (heat 2) and 10,238 (heat 1) all show "10,23": three places, not one.
    Meeting m;
    TFormMain &f = *m.f;
    m.enter(QStringLiteral("A"), {{1, 10231}, {2, 10238}});
    m.enter(QStringLiteral("B"), {{1, 10233}, {2, 10500}});
    const results::ResultsDocument doc = f.ResultsOfMeeting();
    ASSERT_EQ(doc.rankings.size(), 1u);
    QStringList ranked;
    for (const results::RankedLane &r : doc.rankings[0].lanes)
        ranked << QStringList{r.place, r.lane.name, r.lane.time}.join(QLatin1Char('|'));
    EXPECT_EQ(ranked, (QStringList{"1|A1|10,23 (10,231)", "2|B1|10,23 (10,233)", "3|A2|10,23 (10,238)", "4|B2|10,50",
                                   "|A3|", "|A4|", "|B3|", "|B4|"}));
}

TEST(Print, RoundedUpTiesCarryTheirThousandthsAlsoAfterARestore)
{
    Meeting m;
    TFormMain &f = *m.f;
    f.Model.setRoundUp(true);
    m.enter(QStringLiteral("L"), {{2, 10231}, {1, 10238}, {3, 10300}}); // lane 4 not stopped
    const auto times = [](const results::ResultsDocument &doc) {
        QStringList out;
        for (const results::LaneResult &l : doc.heats.at(0).lanes)
            out << l.time;
        return out;
    };
    EXPECT_EQ(times(f.ResultsOfMeeting()), (QStringList{"10,24 (10,231)", "10,24 (10,238)", "10,30", ""}));

    // The milliseconds go into the journal with the heat: a restored meeting shows them as well.
    ASSERT_TRUE(f.FlushJournal());
    QFile journal(m.fp.settings.journalFile(f.ProgramName));
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    const std::optional<results::MeetingJournal> back = results::decodeJournal(journal.readAll());
    ASSERT_TRUE(back.has_value());
    f.RestoreJournal(*back);
    EXPECT_EQ(times(f.ResultsOfMeeting()), (QStringList{"10,24 (10,231)", "10,24 (10,238)", "10,30", ""}));

    // Entered once more after going back to the heat (a name mended): the table shows 10,24 for
    // both, yet the thousandths that decided the places stay.
    f.seLauf->setValue(1);
    f.Line(1)->eName->setText(QStringLiteral("Berichtigt"));
    f.mEintragen->trigger();
    EXPECT_EQ(times(f.ResultsOfMeeting()), (QStringList{"10,24 (10,231)", "10,24 (10,238)", "10,30", ""}));

    // Switched to truncated times afterwards: the entered heat keeps its times and how its tie was
    // decided.
    f.Model.setRoundUp(false);
    EXPECT_EQ(times(f.ResultsOfMeeting()), (QStringList{"10,24 (10,231)", "10,24 (10,238)", "10,30", ""}));
}
