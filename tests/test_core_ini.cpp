#include "platform/core/IniFile.h"
#include "TestEnvironment.h"
#include <QStringEncoder>
#include "platform/core/ConfigLocation.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// ---------------------------------------------------------------------------
// Where the configuration file is found, and a first one made from the example

namespace {

void WriteFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

class ConfigLocationTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        TestEnvironment::RemoveIni();
        QDir(UserConfigFolder()).removeRecursively();
    }
};

} // namespace

TEST_F(ConfigLocationTest, CurrentDirectoryWinsOverTheUserFolderAndTheCommandLineOverBoth)
{
    // The per-user folder is the test's own settings folder, never the real one.
    ASSERT_TRUE(UserConfigFile().startsWith(TestEnvironment::WorkDir() + "/settings/"));
    EXPECT_EQ(UserConfigFile(), QDir(UserConfigFolder()).filePath("Braxo.ini"));
    EXPECT_EQ(UserConfigFolder().section('/', -1), "Velmora");
    const QString cwdFile = QDir(TestEnvironment::WorkDir()).filePath("Braxo.ini");
    EXPECT_EQ(ConfigSearchPlaces(), QStringList({cwdFile, UserConfigFile()}));

    // None found: the current directory's name, which reads as empty.
    EXPECT_EQ(LocateConfigFile(QString()), "Braxo.ini");
    WriteFile(UserConfigFile(), "[General]\ntitle=user\n");
    EXPECT_EQ(LocateConfigFile(QString()), UserConfigFile());
    TestEnvironment::WriteIni("[General]\ntitle=cwd\n");
    EXPECT_EQ(LocateConfigFile(QString()), cwdFile);
    EXPECT_EQ(LocateConfigFile("/elsewhere/mine.ini"), "/elsewhere/mine.ini");
}

TEST_F(ConfigLocationTest, ReadProblemsNameTheFile)
{
    const QString cwdFile = QDir(TestEnvironment::WorkDir()).filePath("Braxo.ini");
    EXPECT_EQ(ConfigReadProblem("Braxo.ini"), "The configuration file " + cwdFile + " does not exist.");
    ASSERT_TRUE(QDir().mkdir(cwdFile));
    EXPECT_EQ(ConfigReadProblem("Braxo.ini"), "The configuration file " + cwdFile + " is a folder, not a file.");
    QDir().rmdir(cwdFile);
    TestEnvironment::WriteIni("[General]\n");
    EXPECT_EQ(ConfigReadProblem(cwdFile), "");
}

TEST_F(ConfigLocationTest, TheExampleIsFoundInTheInstalledLayoutFirstAndCopiedWithoutReplacingAFile)
{
    const QString root = TestEnvironment::WorkDir() + "/prefix";
    const QString installed = root + "/share/tavisk-alerts/Braxo.ini";
    const QString inBuildFolder = root + "/bin/share/tavisk-alerts/Braxo.ini";
    EXPECT_EQ(ExampleConfigPlaces(root + "/bin"), QStringList({installed, inBuildFolder}));
    EXPECT_EQ(ExampleConfigFile(root + "/bin"), "");
    WriteFile(inBuildFolder, "[General]\ntitle=build\n");
    EXPECT_EQ(ExampleConfigFile(root + "/bin"), inBuildFolder);
    WriteFile(installed, "[General]\ntitle=installed\n");
    EXPECT_EQ(ExampleConfigFile(root + "/bin"), installed);

    // The folder is made; a file that appeared meanwhile is kept as it is.
    EXPECT_EQ(CreateConfigFromExample(installed, UserConfigFile()), "");
    EXPECT_EQ(ReadFile(UserConfigFile()), "[General]\ntitle=installed\n");
    EXPECT_EQ(CreateConfigFromExample(inBuildFolder, UserConfigFile()), "");
    EXPECT_EQ(ReadFile(UserConfigFile()), "[General]\ntitle=installed\n");

    QFile::remove(UserConfigFile());
    const QString missing = root + "/nowhere.ini";
    EXPECT_TRUE(CreateConfigFromExample(missing, UserConfigFile()).startsWith(
        "The example configuration " + missing + " cannot be read: "));
    EXPECT_FALSE(QFileInfo::exists(UserConfigFile()));
    QDir(root).removeRecursively();
}
