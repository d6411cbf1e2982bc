// The desk speaks German under LANG=C too (this test runs under LANG=C and LC_ALL=C), and formats
// as in Germany when the user chose no locale.

#include "Language.h"
#include "RealPlatform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <utility>

namespace {

QString labelText(const QWidget &dialog, const char *name)
{
    const auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("(missing)");
}

QProcessEnvironment environment(std::initializer_list<std::pair<const char *, const char *>> variables)
{
    QProcessEnvironment env;
    for (const auto &[name, value] : variables)
        env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return env;
}

} // namespace

TEST(Language, QtsOwnButtonsDialogsAndMenusAreGermanUnderLangC)
{
    ASSERT_EQ(QLocale::system().language(), QLocale::C);
    ASSERT_TRUE(InstallGermanQtTexts(*qApp));

    // The restore question at start-up, as the desk's message box service makes it.
    const std::unique_ptr<QMessageBox> box = platform::makeMessageBox(
        nullptr, QStringLiteral("Letzte Veranstaltung wiederherstellen?"), QStringLiteral("zielkron"),
        platform::MessageButtons::YesNo, platform::MessageIcon::Question);
    ASSERT_NE(box->button(QMessageBox::Yes), nullptr);
    EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
    EXPECT_EQ(box->button(QMessageBox::No)->text(), QStringLiteral("&Nein"));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::No));

    // The start-list dialog: Qt's own, whatever the desktop offers.
    QFileDialog dialog;
    platform::FileDialogRequest request;
    request.filter = QStringLiteral("Textdatei (*.txt)|*.txt");
    platform::configureFileDialog(dialog, request, false);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(labelText(dialog, "lookInLabel"), QStringLiteral("Suchen in:"));
    EXPECT_EQ(labelText(dialog, "fileNameLabel"), QStringLiteral("Datei&name:"));
    EXPECT_EQ(labelText(dialog, "fileTypeLabel"), QStringLiteral("Dateien des Typs:"));
    const auto *buttons = dialog.findChild<QDialogButtonBox *>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Open)->text(), QStringLiteral("&Öffnen"));
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));

    // The results folder's chooser as well.
    QFileDialog folders;
    platform::configureFolderDialog(folders);
    EXPECT_TRUE(folders.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(labelText(folders, "lookInLabel"), QStringLiteral("Suchen in:"));

    // The context menu of every name and number field.
    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList entries;
    for (const QAction *a : menu->actions())
        if (!a->isSeparator())
            entries << a->text().section(QLatin1Char('\t'), 0, 0);
    EXPECT_EQ(entries, (QStringList{"&Rückgängig", "Wieder&herstellen", "&Ausschneiden", "&Kopieren", "Einf&ügen",
                                    "Löschen", "Alles auswählen"}));
}

TEST(Language, FormatsAreGermanWhenNoLocaleIsChosenAndTheUsersOtherwise)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    // Nothing chosen: a fresh installation, a server, a script.
    EXPECT_EQ(FormatLocaleFor(environment({})), german);
    for (const char *none : {"C", "POSIX", "C.UTF-8", "C.utf8", ""})
        EXPECT_EQ(FormatLocaleFor(environment({{"LANG", none}})), german) << none;
    EXPECT_EQ(FormatLocaleFor(environment({{"LANG", "de_AT.UTF-8"}, {"LC_ALL", "C"}})), german);
    EXPECT_EQ(FormatLocaleFor(environment({{"LANG", "C.UTF-8"}, {"LC_CTYPE", "de_CH.UTF-8"}})), german);

    // A locale the user chose stays the system's, as it is read per category.
    for (const char *lang : {"de_DE.UTF-8", "de_AT.UTF-8", "de_CH.UTF-8", "en_GB.UTF-8", "en_US", "fr_FR@euro"})
        EXPECT_EQ(FormatLocaleFor(environment({{"LANG", lang}})), std::nullopt) << lang;
    EXPECT_EQ(FormatLocaleFor(environment({{"LC_ALL", "de_CH.UTF-8"}})), std::nullopt);
    EXPECT_EQ(FormatLocaleFor(environment({{"LC_NUMERIC", "de_AT.UTF-8"}, {"LC_TIME", "en_GB.UTF-8"}})), std::nullopt);

    // Numbers or times alone chosen: that locale for both.
    EXPECT_EQ(FormatLocaleFor(environment({{"LANG", "C.UTF-8"}, {"LC_TIME", "en_GB.UTF-8"}})),
              QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(FormatLocaleFor(environment({{"LANG", "de_CH.UTF-8"}, {"LC_NUMERIC", "C"}})),
              QLocale(QLocale::German, QLocale::Switzerland));

    // What a bare system showed in English: the long date, the wind and the time of a lane.
    const QLocale formats = *FormatLocaleFor(environment({{"LANG", "C"}}));
    EXPECT_EQ(formats.toString(QDate(2026, 12, 8), QLocale::LongFormat), QStringLiteral("Dienstag, 8. Dezember 2026"));
    EXPECT_EQ(formats.toString(0.0, 'f', 1), QStringLiteral("0,0"));
}
