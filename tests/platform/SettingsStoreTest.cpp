// The real INI store, on a temporary folder: never the user's own settings.

#include "RealPlatform.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

TEST(IniSettingsStore, ReadsNothingWhereNoKeyExistsAndCreatesNothing)
{
    QTemporaryDir dir;
    IniSettingsStore store(QStringLiteral("Tempovia"), dir.path());
    EXPECT_EQ(store.openForRead(QStringLiteral("zielkron")), nullptr);
    EXPECT_FALSE(QFileInfo::exists(store.fileNameFor(QStringLiteral("zielkron"))));
}

TEST(IniSettingsStore, WritesAndReadsTypedValuesPerProgram)
{
    QTemporaryDir dir;
    IniSettingsStore store(QStringLiteral("Tempovia"), dir.path());
    {
        auto key = store.openForWrite(QStringLiteral("zielkron"));
        ASSERT_NE(key, nullptr);
        key->writeInteger(QStringLiteral("Wind"), -25);
        key->writeInteger(QStringLiteral("Left"), 294);
        key->writeString(QStringLiteral("Title"), QString::fromUtf8("Kreismeisterschaften, Halle"));
        EXPECT_TRUE(key->commit());
    }
    EXPECT_EQ(store.fileNameFor(QStringLiteral("zielkron")), dir.filePath(QStringLiteral("Tempovia/zielkron.ini")));
    auto key = store.openForRead(QStringLiteral("zielkron"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->readInteger(QStringLiteral("Wind")), -25);
    EXPECT_EQ(key->readInteger(QStringLiteral("Left")), 294);
    EXPECT_EQ(key->readString(QStringLiteral("Title")), QString::fromUtf8("Kreismeisterschaften, Halle"));
    EXPECT_EQ(key->readInteger(QStringLiteral("Top")), std::nullopt);
    // A renamed program has a key of its own.
    EXPECT_EQ(store.openForRead(QStringLiteral("desk")), nullptr);
}

TEST(IniSettingsStore, IntegerReadsAreStrict)
{
    QTemporaryDir dir;
    IniSettingsStore store(QStringLiteral("Tempovia"), dir.path());
    const QString file = store.fileNameFor(QStringLiteral("zielkron"));
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[General]\nPort1=abc\nPort2=12x\nPort3=4294967271\nPort4= 7 \nAlg=\nTitle=2026\n");
    f.close();
    auto key = store.openForRead(QStringLiteral("zielkron"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->readInteger(QStringLiteral("Port1")), std::nullopt);
    EXPECT_EQ(key->readInteger(QStringLiteral("Port2")), std::nullopt);
    EXPECT_EQ(key->readInteger(QStringLiteral("Port3")), -25); // the unsigned spelling of a 32-bit value
    EXPECT_EQ(key->readInteger(QStringLiteral("Port4")), 7);
    EXPECT_EQ(key->readInteger(QStringLiteral("Alg")), std::nullopt);
    EXPECT_EQ(key->readString(QStringLiteral("Title")), QStringLiteral("2026"));
}

TEST(IniSettingsStore, AKeyThatCannotBeWrittenSavesNothing)
{
    QTemporaryDir dir;
    // The organisation folder is a plain file: the key cannot be created.
    QFile blocker(dir.filePath(QStringLiteral("Tempovia")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    IniSettingsStore store(QStringLiteral("Tempovia"), dir.path());
    auto key = store.openForWrite(QStringLiteral("zielkron"));
    if (key) {
        key->writeInteger(QStringLiteral("Left"), 1);
        EXPECT_FALSE(key->commit());
    }
    EXPECT_EQ(store.openForRead(QStringLiteral("zielkron")), nullptr);
}

TEST(DeskFilter, BecomesQtNameFilters)
{
    EXPECT_EQ(nameFiltersFromDeskFilter(QStringLiteral("Textdatei (*.txt)|*.txt|CSV (*.csv)|*.csv|")),
              (QStringList{"Textdatei (*.txt)", "CSV (*.csv)"}));
    EXPECT_EQ(nameFiltersFromDeskFilter(QStringLiteral("Text|*.txt;*.lst")), (QStringList{"Text (*.txt *.lst)"}));
}
