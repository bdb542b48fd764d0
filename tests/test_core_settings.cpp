// The per-user settings store: typed reads and writes, the fallbacks for
// values of the wrong form, and the rule that text stays text.
#include "TestEnvironment.h"
#include "platform/core/SettingsStore.h"
#include <QSettings>
#include <gtest/gtest.h>

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { TestEnvironment::ClearSettings(); }
    void TearDown() override { TestEnvironment::ClearSettings(); }

    // What a second reader (the next start of the program) finds.
    static QVariant StoredValue(const QString& path)
    {
        QSettings raw(SettingsOrganization, SettingsApplication);
        return raw.value(path);
    }
};

TEST_F(SettingsStoreTest, ValuesSurviveAReopenedStore)
{
    {
        TSettingsStore store;
        store.WriteString("Main", "User", "trader, one");
        store.WriteInteger("Main", "Left", -120);
        store.WriteBool("Main", "EnableSound", true);
        store.WriteBool("Main", "Other", false);
    }
    TSettingsStore store;
    EXPECT_EQ(store.ReadString("Main", "User", "x"), "trader, one");
    EXPECT_EQ(store.ReadInteger("Main", "Left", 5), -120);
    EXPECT_TRUE(store.ReadBool("Main", "EnableSound", false));
    EXPECT_FALSE(store.ReadBool("Main", "Other", true));
    // Booleans are kept as the texts "1" and "0".
    EXPECT_EQ(StoredValue("Main/EnableSound").toString(), "1");
    EXPECT_EQ(StoredValue("Main/Other").toString(), "0");
}

TEST_F(SettingsStoreTest, MissingValuesGiveTheDefaultsAndCreateNothing)
{
    {
        TSettingsStore store;
        EXPECT_EQ(store.ReadString("Main", "User", "fallback"), "fallback");
        EXPECT_EQ(store.ReadInteger("Main", "Top", 197), 197);
        EXPECT_TRUE(store.ReadBool("Main", "EnableSound", true));
        EXPECT_FALSE(store.ValueExists("Main", "User"));
    }
    QSettings raw(SettingsOrganization, SettingsApplication);
    EXPECT_TRUE(raw.allKeys().isEmpty());
}

TEST_F(SettingsStoreTest, IntegersAcceptNumbersAndDecimalTextOnly)
{
    {
        QSettings raw(SettingsOrganization, SettingsApplication);
        raw.setValue("Main/Text", "42");
        raw.setValue("Main/Padded", " -7 ");
        raw.setValue("Main/Word", "abc");
        raw.setValue("Main/Mixed", "12px");
        raw.setValue("Main/Empty", "");
        raw.setValue("Main/Hex", "0x10");
    }
    TSettingsStore store;
    EXPECT_EQ(store.ReadInteger("Main", "Text", 0), 42);
    EXPECT_EQ(store.ReadInteger("Main", "Padded", 0), -7);
    EXPECT_EQ(store.ReadInteger("Main", "Word", 9), 9);
    EXPECT_EQ(store.ReadInteger("Main", "Mixed", 9), 9);
    EXPECT_EQ(store.ReadInteger("Main", "Empty", 9), 9);
    EXPECT_EQ(store.ReadInteger("Main", "Hex", 9), 9);
    // A Boolean is true when its integer is not 0, and a non-number is the default.
    EXPECT_TRUE(store.ReadBool("Main", "Text", false));
    EXPECT_FALSE(store.ReadBool("Main", "Word", false));
    EXPECT_TRUE(store.ReadBool("Main", "Word", true));
}

TEST_F(SettingsStoreTest, StoredNumbersOfEveryKindAreRead)
{
    EXPECT_EQ(TSettingsStore::IntegerFromStored(QVariant(5)), 5);
    EXPECT_EQ(TSettingsStore::IntegerFromStored(QVariant(QString("12"))), 12);
    // A registry DWORD above the signed range keeps its bits.
    EXPECT_EQ(TSettingsStore::IntegerFromStored(QVariant(0xFFFFFFFFu)), -1);
    EXPECT_EQ(TSettingsStore::IntegerFromStored(QVariant(qlonglong(1) << 40)), std::nullopt);
    EXPECT_EQ(TSettingsStore::IntegerFromStored(QVariant()), std::nullopt);
    EXPECT_EQ(TSettingsStore::IntegerFromStored(QVariant(QStringList{"1", "2"})), std::nullopt);
}

TEST_F(SettingsStoreTest, AnIntegerStoredAsTextIsRewrittenAsText)
{
    TSettingsStore store;
    store.WriteString("Window:A", "Width", "300");
    store.WriteInteger("Window:A", "Width", 310);
    store.Flush();
    EXPECT_EQ(StoredValue("Window:A/Width").typeId(), QMetaType::QString);
    EXPECT_EQ(StoredValue("Window:A/Width").toString(), "310");
    EXPECT_EQ(store.ReadInteger("Window:A", "Width", 0), 310);
}

TEST_F(SettingsStoreTest, TextWithSeparatorsIsOneText)
{
    {
        TSettingsStore store;
        store.WriteString("Main", "SoundFileName", "C:\\Sounds\\a, b.wav");
    }
    {
        // A hand-edited file: an unquoted comma reads back as a list.
        QSettings raw(SettingsOrganization, SettingsApplication);
        raw.setValue("Main/Edited", QStringList{"a", "b"});
    }
    TSettingsStore store;
    EXPECT_EQ(store.ReadString("Main", "SoundFileName", ""), "C:\\Sounds\\a, b.wav");
    EXPECT_EQ(store.ReadString("Main", "Edited", ""), "a,b");
}

} // namespace
