#include "platform/core/IniFile.h"
#include "TestEnvironment.h"
#include <QStringEncoder>
#include <gtest/gtest.h>

TEST(IniFile, SectionsAndKeysIgnoreLetterCaseAndValuesAreTrimmed)
{
    const TIniFile ini = TIniFile::FromText("[General]\r\n Title = My Alerts \r\n"
                                            "[alert window 0]\nDISPLAY=quent\n");
    EXPECT_EQ(ini.ReadString("general", "TITLE"), "My Alerts");
    EXPECT_EQ(ini.ReadString("Alert Window 0", "display"), "quent");
    EXPECT_EQ(ini.ReadString("Alert Window 1", "display", "none"), "none");
    EXPECT_TRUE(ini.SectionExists("ALERT WINDOW 0"));
}

TEST(IniFile, FirstKeyWinsRepeatedSectionsMergeAndJunkIsSkipped)
{
    const TIniFile ini = TIniFile::FromText("; comment\nstray=1\n[A]\nk=first\nnot a pair\n=novalue\n"
                                            "[B]\nx=1\n[a]\nk=second\nj=\"quoted\"\n");
    EXPECT_EQ(ini.ReadString("A", "k"), "first");
    EXPECT_EQ(ini.ReadString("A", "j"), "quoted");
    EXPECT_EQ(ini.ReadString("A", "stray", "-"), "-");
    EXPECT_EQ(ini.ReadString("B", "x"), "1");
}

TEST(IniFile, IntegersFallBackToTheDefault)
{
    const TIniFile ini = TIniFile::FromText("[G]\nn=12\nneg=-3\nbad=12x\nempty=\n");
    EXPECT_EQ(ini.ReadInteger("G", "n", 0), 12);
    EXPECT_EQ(ini.ReadInteger("G", "neg", 0), -3);
    EXPECT_EQ(ini.ReadInteger("G", "bad", 7), 7);
    EXPECT_EQ(ini.ReadInteger("G", "empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger("G", "missing", 7), 7);
}

TEST(IniFile, TextSavedAsUtf16WithAByteOrderMarkIsRead)
{
    const QString text = QStringLiteral("[General]\r\ntitle=Caf\u00e9 Alerts\r\nwindow count=3\r\n");
    for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        const TIniFile ini = TIniFile::FromText(encoder(text));
        EXPECT_EQ(ini.ReadString("General", "title"), QStringLiteral("Caf\u00e9 Alerts").toLocal8Bit());
        EXPECT_EQ(ini.ReadInteger("General", "window count", 0), 3);
    }
    EXPECT_EQ(TIniFile::FromText("\xEF\xBB\xBF[G]\nk=v\n").ReadString("G", "k"), "v");
}

TEST(IniFile, MissingFileIsEmptyAndFileIsReadFromTheCurrentDirectory)
{
    TestEnvironment::RemoveIni();
    EXPECT_EQ(TIniFile(ConfigFileName).ReadString("General", "title", "dflt"), "dflt");
    TestEnvironment::WriteIni("[General]\ntitle=From disk\n");
    EXPECT_EQ(TIniFile(ConfigFileName).ReadString("General", "title"), "From disk");
    TestEnvironment::RemoveIni();
}
