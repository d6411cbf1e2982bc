// The manual and its window: the anchors the desk asks for, the pictures it names, the contents
// list, history and search of the help window, Escape in the help and information windows.

#include "FakePlatform.h"
#include "FormInfo.h"
#include "HelpTopics.h"
#include "HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

const QString SourceManual = QStringLiteral(ZK_MANUAL_SOURCE "/index.html");
const QString BuiltManual = QStringLiteral(ZK_MANUAL_BUILD "/index.html");

QString readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

// A small manual of three chapters in a temporary folder.
struct SmallManual {
    QTemporaryDir dir;
    QString file = dir.filePath(QStringLiteral("index.html"));
    SmallManual()
    {
        QString body = QStringLiteral("<html><body><h1>Handbuch</h1><h2 id=\"inhalt\">Inhalt</h2>"
                                      "<p><a href=\"#zwei\">Zwei</a></p>");
        for (const char *id : {"eins", "zwei", "drei"}) {
            body += QStringLiteral("<h2 id=\"%1\">Kapitel %1</h2>").arg(QString::fromLatin1(id));
            for (int i = 0; i < 40; ++i)
                body += QStringLiteral("<p>Absatz %1 über die Lichtschranke.</p>").arg(i);
            body += QStringLiteral("<h3 id=\"%1-a\">Abschnitt %1</h3><p>Text</p>").arg(QString::fromLatin1(id));
        }
        body += QStringLiteral("</body></html>");
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(body.toUtf8());
    }
};

} // namespace

TEST(Manual, EveryAnchorTheDeskAsksForIsInTheManual)
{
    THelpWindow w;
    ASSERT_TRUE(w.OpenManual(BuiltManual, QString())) << "the build places the manual at " << qPrintable(BuiltManual);
    const QStringList anchors = w.Anchors();
    EXPECT_TRUE(anchors.contains(QString::fromLatin1(help::ContentsAnchor)));
    QSet<int> contexts;
    for (const help::Topic &t : help::topics()) {
        EXPECT_TRUE(anchors.contains(QString::fromLatin1(t.anchor))) << t.keyword << " -> #" << t.anchor;
        EXPECT_FALSE(contexts.contains(t.context)) << "context " << t.context << " twice";
        contexts.insert(t.context);
    }
    // The manual's own links lead to anchors that exist.
    const QString html = readAll(BuiltManual);
    static const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const QString target = it.next().captured(1);
        EXPECT_TRUE(anchors.contains(target)) << "link to #" << qPrintable(target);
    }
}

TEST(Manual, EveryPictureItNamesExistsInSourceAndBuild)
{
    const QString html = readAll(SourceManual);
    ASSERT_FALSE(html.isEmpty());
    EXPECT_EQ(html, readAll(BuiltManual)) << "the build copies the manual unchanged";
    static const QRegularExpression image(QStringLiteral("<img[^>]*src=\"([^\"]+)\""));
    QStringList names;
    for (auto it = image.globalMatch(html); it.hasNext();)
        names << it.next().captured(1);
    // The desk ready, running, stopped, the one-barrier list, the settings and the wiring.
    for (const char *wanted : {"pult-bereit.png", "pult-laeuft.png", "pult-gestoppt.png", "pult-ziel-liste.png",
                               "einstellungen.png", "verkabelung.png"})
        EXPECT_TRUE(names.contains(QStringLiteral("bilder/") + QString::fromLatin1(wanted))) << wanted;
    for (const QString &name : names) {
        EXPECT_FALSE(QImage(QDir(QStringLiteral(ZK_MANUAL_SOURCE)).filePath(name)).isNull()) << qPrintable(name);
        EXPECT_FALSE(QImage(QDir(QStringLiteral(ZK_MANUAL_BUILD)).filePath(name)).isNull()) << qPrintable(name);
    }
}

TEST(HelpTopics, KeywordsAndContextsLeadToTheirAnchors)
{
    EXPECT_EQ(help::anchorForKeyword(QStringLiteral("startliste")), QStringLiteral("startliste"));
    EXPECT_EQ(help::anchorForKeyword(QStringLiteral(" Einstellungen ")), QStringLiteral("einstellungen"));
    EXPECT_EQ(help::anchorForKeyword(QStringLiteral("Stör")), QStringLiteral("stoerungen")); // beginning of a keyword
    EXPECT_EQ(help::anchorForKeyword(QStringLiteral("Lauf")), QStringLiteral("laeufe"));    // exact before prefix
    EXPECT_EQ(help::anchorForKeyword(QStringLiteral("Hochsprung")), QStringLiteral("inhalt"));
    EXPECT_EQ(help::anchorForKeyword(QString()), QStringLiteral("inhalt"));
    EXPECT_EQ(help::anchorForContext(60), QStringLiteral("startliste"));
    EXPECT_EQ(help::anchorForContext(4711), QStringLiteral("inhalt"));
}

TEST(HelpWindow, OpensAtTheAnchorWithContentsHistoryAndSearch)
{
    SmallManual m;
    THelpWindow w;
    EXPECT_FALSE(w.OpenManual(m.dir.filePath(QStringLiteral("fehlt.html")), QStringLiteral("inhalt")));
    ASSERT_TRUE(w.OpenManual(m.file, QStringLiteral("inhalt")));
    w.show();
    EXPECT_EQ(w.CurrentAnchor(), QStringLiteral("inhalt"));

    // Contents list: the chapters (level 2) with their sections beneath.
    ASSERT_EQ(w.tvContents->topLevelItemCount(), 4);
    EXPECT_EQ(w.tvContents->topLevelItem(1)->text(0), QStringLiteral("Kapitel eins"));
    ASSERT_EQ(w.tvContents->topLevelItem(2)->childCount(), 1);
    EXPECT_EQ(w.tvContents->topLevelItem(2)->child(0)->text(0), QStringLiteral("Abschnitt zwei"));

    emit w.tvContents->itemClicked(w.tvContents->topLevelItem(3), 0);
    EXPECT_EQ(w.CurrentAnchor(), QStringLiteral("drei"));
    EXPECT_EQ(w.tvContents->currentItem(), w.tvContents->topLevelItem(3));
    EXPECT_TRUE(w.bBack->isEnabled());
    w.bBack->click();
    EXPECT_EQ(w.CurrentAnchor(), QStringLiteral("inhalt"));
    EXPECT_TRUE(w.bForward->isEnabled());
    w.bForward->click();
    EXPECT_EQ(w.CurrentAnchor(), QStringLiteral("drei"));
    w.bHome->click();
    EXPECT_EQ(w.CurrentAnchor(), QStringLiteral("inhalt"));

    // Opening the same manual again goes to the asked anchor without reloading.
    ASSERT_TRUE(w.OpenManual(m.file, QStringLiteral("zwei-a")));
    EXPECT_EQ(w.CurrentAnchor(), QStringLiteral("zwei-a"));

    // Search: from the cursor on, round past the end, and a miss is shown.
    w.eSearch->setText(QStringLiteral("Abschnitt"));
    QTextCursor c = w.Browser->textCursor();
    c.movePosition(QTextCursor::Start);
    w.Browser->setTextCursor(c);
    QList<int> found;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(w.FindNext());
        found << w.Browser->textCursor().selectionStart();
    }
    EXPECT_LT(found[0], found[1]);
    EXPECT_LT(found[1], found[2]);
    EXPECT_EQ(found[3], found[0]); // three sections, the fourth search starts again at the top
    EXPECT_EQ(w.Browser->textCursor().selectedText(), QStringLiteral("Abschnitt"));
    ASSERT_TRUE(w.FindNext(true));
    EXPECT_EQ(w.Browser->textCursor().selectionStart(), found[2]); // backwards past the top
    EXPECT_TRUE(w.lblFound->text().isEmpty());
    w.eSearch->setText(QStringLiteral("Hochsprung"));
    EXPECT_FALSE(w.FindNext());
    EXPECT_EQ(w.lblFound->text(), QStringLiteral("nicht gefunden"));
}

TEST(HelpWindow, ViewerShowsTheManualAndPassesHelpFilesOn)
{
    SmallManual m;
    fake::Help system;
    QWidget desk;
    {
        ManualHelpViewer viewer(system);
        viewer.showManual(&desk, m.dir.filePath(QStringLiteral("fehlt.html")), QStringLiteral("inhalt"));
        EXPECT_EQ(viewer.Window(), nullptr); // no manual, no window
        viewer.showContents(QStringLiteral("/opt/zielkron/zielkron.chm"));
        EXPECT_EQ(system.shown, QStringList{QStringLiteral("/opt/zielkron/zielkron.chm")});

        viewer.showKeyword(&desk, m.file, QStringLiteral("Hochsprung")); // unknown: the contents
        THelpWindow *w = viewer.Window();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        EXPECT_FALSE(w->isModal()); // the desk stays usable beside it
        EXPECT_EQ(w->parent(), &desk);
        EXPECT_EQ(w->CurrentAnchor(), QStringLiteral("inhalt"));
        EXPECT_TRUE(system.manuals.isEmpty()); // the manual never goes to the system's service

        // Escape closes it; the next request shows the same window again.
        QTest::keyClick(w, Qt::Key_Escape);
        EXPECT_FALSE(w->isVisible());
        viewer.showManual(&desk, m.file, QStringLiteral("zwei"));
        EXPECT_EQ(viewer.Window(), w);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->CurrentAnchor(), QStringLiteral("zwei"));
    }
    EXPECT_EQ(desk.findChildren<THelpWindow *>().size(), 1); // owned by the desk, not by the viewer
}

TEST(HelpWindow, PreparedWindowIsLoadedButHiddenUntilAsked)
{
    SmallManual m;
    fake::Help system;
    QWidget desk;
    ManualHelpViewer viewer(system);
    viewer.prepare(&desk, m.dir.filePath(QStringLiteral("fehlt.html")));
    EXPECT_EQ(viewer.Window(), nullptr); // no manual, no window
    viewer.prepare(&desk, m.file);
    THelpWindow *w = viewer.Window();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->testAttribute(Qt::WA_DontShowOnScreen)); // a later request shows it for real
    EXPECT_EQ(w->ManualFile(), QFileInfo(m.file).absoluteFilePath());
    EXPECT_FALSE(w->Browser->document()->isEmpty());
    EXPECT_TRUE(w->testAttribute(Qt::WA_WState_Polished)); // styled and laid out already

    viewer.showManual(&desk, m.file, QStringLiteral("zwei"));
    EXPECT_EQ(viewer.Window(), w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->CurrentAnchor(), QStringLiteral("zwei"));
    // Prepared again while it is open: it stays open where it is.
    viewer.prepare(&desk, m.file);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->CurrentAnchor(), QStringLiteral("zwei"));
}

TEST(FormInfo, EscapeClosesAndTheVersionComesFromTheBuild)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TFormInfo info;
    EXPECT_TRUE(info.Version->text().startsWith(QStringLiteral("Version " ZK_EXPECTED_VERSION "\nvom ")))
        << qPrintable(info.Version->text());
    static const QRegularExpression germanDate(QStringLiteral("\\nvom \\d\\d\\.\\d\\d\\.\\d{4}$"));
    EXPECT_TRUE(germanDate.match(info.Version->text()).hasMatch()) << qPrintable(info.Version->text());
    EXPECT_EQ(info.size(), QSize(256, 407)); // the layout stays

    info.show();
    QTest::keyClick(&info, Qt::Key_Escape);
    EXPECT_FALSE(info.isVisible());
    info.show();
    info.OKButton->click();
    EXPECT_FALSE(info.isVisible());
}
