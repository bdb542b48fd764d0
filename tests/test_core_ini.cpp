#include "platform/core/IniFile.h"
#include "platform/core/IniEditor.h"
#include "TestEnvironment.h"
#include <QStringEncoder>
#include "platform/core/ConfigLocation.h"
#include "Shared/ConnectionSettings.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <functional>
#include <sys/stat.h>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

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
// Changing keys of a file the trader also edits by hand

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

// Comments, an unknown key, a key given twice, a section named twice, CR LF
// with one LF line and no break at the end.
const QString HandWritten = QStringLiteral("; Caf\u00e9 desk\r\n[General]\r\ntitle=Caf\u00e9\r\n[Connection]\r\n"
                                           "address = old:1\r\ncustom key=kept\r\nADDRESS=second\r\n\r\n"
                                           "; later\r\n[connection]\nx=1");

QByteArray Encoded(const QString& text, std::optional<QStringConverter::Encoding> encoding)
{
    if (!encoding)
        return text.toUtf8();
    QStringEncoder encoder(*encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

} // namespace

TEST(IniEditor, ChangesOnlyTheLinesOfTheKeysInTheFilesOwnEncodingAndLineBreaks)
{
    const QString expected = QStringLiteral("; Caf\u00e9 desk\r\n[General]\r\ntitle=\" spaced \"\r\n[Connection]\r\n"
                                            "address = new:2\r\ncustom key=kept\r\nADDRESS=second\r\ntls=1\r\n\r\n"
                                            "; later\r\n[connection]\nx=1\n\n[Alert Window 0]\ndisplay=strike\n");
    for (const auto encoding : std::initializer_list<std::optional<QStringConverter::Encoding>>{
             std::nullopt, QStringConverter::Utf8, QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        SCOPED_TRACE(encoding ? QStringConverter::nameForEncoding(*encoding) : "8-bit");
        TIniEditor editor(Encoded(HandWritten, encoding));
        ASSERT_EQ(editor.Problem(), "");
        EXPECT_EQ(editor.SetValue("connection", "Address", "new:2"), ""); // the first of the two
        EXPECT_EQ(editor.SetValue("Connection", "tls", "1"), "");
        EXPECT_EQ(editor.SetValue("General", "title", " spaced "), "");
        EXPECT_EQ(editor.SetValue("Alert Window 0", "display", "strike"), "");
        EXPECT_EQ(editor.Bytes(), Encoded(expected, encoding));

        const TIniFile read = TIniFile::FromText(editor.Bytes());
        EXPECT_EQ(read.ReadString("Connection", "address"), "new:2");
        EXPECT_EQ(read.ReadString("General", "title"), " spaced ");
        EXPECT_EQ(read.ReadString("Alert Window 0", "display"), "strike");
        // Removing takes the duplicate too, so the key is gone, not replaced.
        EXPECT_TRUE(editor.RemoveKey("Connection", "address"));
        EXPECT_EQ(TIniFile::FromText(editor.Bytes()).ReadString("Connection", "address", "none"), "none");
        EXPECT_EQ(TIniFile::FromText(editor.Bytes()).ReadString("Connection", "custom key"), "kept");
    }
}

TEST(IniEditor, TextThatWouldAddLinesOrCannotBeWrittenBackIsRefusedUnchanged)
{
    TIniEditor editor(QByteArray("[Connection]\naddress=a:1\n"));
    EXPECT_EQ(editor.SetValue("Connection", "address", "a:1\n[General]\ndebug=1"),
              "The value of address cannot hold a line break");
    EXPECT_NE(editor.SetValue("Connection", "add=ress", "x"), "");
    EXPECT_NE(editor.SetValue("Conn]ection", "address", "x"), "");
    EXPECT_EQ(editor.Bytes(), "[Connection]\naddress=a:1\n");

    // An odd byte at the end of UTF-16 would be lost.
    const QByteArray broken = QByteArray("\xFF\xFE[\0G\0]\0\n\0k\0=\0v\0\n", 17);
    TIniEditor unsafe(broken);
    EXPECT_EQ(unsafe.Problem(), "is not valid UTF-16LE text");
    EXPECT_NE(unsafe.SetValue("G", "k", "v"), "");
    EXPECT_EQ(unsafe.Bytes(), broken);
}

TEST(IniEditor, SavingReplacesTheFileWholeWithItsModeAndAnUnwritableFileIsLeftIntact)
{
    const QString folder = TestEnvironment::WorkDir() + "/save";
    const QString path = folder + "/Braxo.ini";
    WriteFile(path, Encoded(HandWritten, QStringConverter::Utf16LE));
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0640), 0);
    QByteArray bytes;
    ASSERT_EQ(ReadIniFileText(path, bytes), "");
    TIniEditor editor(bytes);
    ASSERT_EQ(editor.SetValue("Connection", "address", "saved:3"), "");
    const TSaveResult saved = SaveFileReplacing(path, editor.Bytes());
    EXPECT_EQ(saved.Outcome, TSaveOutcome::Saved) << saved.Why.toStdString();
    EXPECT_EQ(TIniFile(path).ReadString("Connection", "address"), "saved:3");
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"Braxo.ini"});

    // Read-only file in a read-only folder; root writes anything, so as root
    // a child that is nobody tries it.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0440), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0550), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(2);
        const TSaveResult refused = SaveFileReplacing(path, "[Connection]\naddress=lost:4\n");
        _exit(refused.Outcome == TSaveOutcome::NotWritable && refused.Why.startsWith("The file " + path + ' ') ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    chmod(QFile::encodeName(folder).constData(), 0700);
    EXPECT_EQ(ReadFile(path), editor.Bytes());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"Braxo.ini"});
    QDir(folder).removeRecursively();
}

// ---------------------------------------------------------------------------
// Where the configuration file is found, and a first one made from the example

namespace {

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

    // None found: no configuration, and a file dropped into the folder later
    // is not taken up either.
    EXPECT_EQ(LocateConfigFile(QString()), "");
    const TConfigInUse none(LocateConfigFile(QString()));
    TestEnvironment::WriteIni("[General]\ntitle=dropped later\n");
    EXPECT_EQ(TIniFile(none.Path()).ReadString("General", "title", "none"), "none");
    TestEnvironment::RemoveIni();

    WriteFile(UserConfigFile(), "[General]\ntitle=user\n");
    EXPECT_EQ(LocateConfigFile(QString()), UserConfigFile());
    EXPECT_EQ(ShadowedConfigFile(UserConfigFile()), "");
    TestEnvironment::WriteIni("[General]\ntitle=cwd\n");
    EXPECT_EQ(LocateConfigFile(QString()), cwdFile);
    EXPECT_EQ(ShadowedConfigFile(cwdFile), UserConfigFile());
    EXPECT_EQ(LocateConfigFile("/elsewhere/mine.ini"), "/elsewhere/mine.ini");
    EXPECT_EQ(LocateConfigFile("mine.ini"), TestEnvironment::WorkDir() + "/mine.ini");
}

// A configuration decides where the password goes: only a plain file of a
// sane size, that nobody but its owner (the user or root) can change, is
// read; anything else is refused unread, and the reason names the file.
TEST_F(ConfigLocationTest, OnlyASmallRegularFileThatOthersCannotChangeIsRead)
{
    const QString cwdFile = QDir(TestEnvironment::WorkDir()).filePath("Braxo.ini");
    const QString refused = "The configuration file " + cwdFile + ' ';
    const auto titleRead = [&] { return TIniFile(cwdFile).ReadString("General", "title", "(nothing read)"); };
    EXPECT_EQ(ConfigReadProblem("Braxo.ini"), refused + "does not exist.");
    ASSERT_TRUE(QDir().mkdir(cwdFile));
    EXPECT_EQ(ConfigReadProblem("Braxo.ini"), refused + "is a folder, not a file.");
    QDir().rmdir(cwdFile);

    // Exactly the limit is read; one byte more is not.
    const QByteArray head = "[General]\ntitle=big\n";
    TestEnvironment::WriteIni(head + QByteArray(MaxIniFileBytes - head.size(), '\n'));
    EXPECT_EQ(ConfigReadProblem(cwdFile), "");
    EXPECT_EQ(titleRead(), "big");
    TestEnvironment::WriteIni(head + QByteArray(MaxIniFileBytes - head.size() + 1, '\n'));
    ASSERT_EQ(ConfigReadProblem(cwdFile), refused + "is larger than 1 MiB, far more than any configuration holds.");
    EXPECT_EQ(titleRead(), "(nothing read)");

    // A link to an endless device, and a FIFO nobody writes: refused at once.
    TestEnvironment::RemoveIni();
    ASSERT_TRUE(QFile::link("/dev/zero", cwdFile));
    ASSERT_EQ(ConfigReadProblem(cwdFile), refused + "is not a regular file.");
    EXPECT_EQ(titleRead(), "(nothing read)");
    TestEnvironment::RemoveIni();
    ASSERT_EQ(mkfifo(QFile::encodeName(cwdFile).constData(), 0600), 0);
    ASSERT_EQ(ConfigReadProblem(cwdFile), refused + "is not a regular file.");
    EXPECT_EQ(titleRead(), "(nothing read)");
    TestEnvironment::RemoveIni();

    // Writable by the group or by anyone: refused, with the cure.
    TestEnvironment::WriteIni("[General]\ntitle=mine\n");
    for (const mode_t mode : {0664, 0646}) {
        ASSERT_EQ(chmod(QFile::encodeName(cwdFile).constData(), mode), 0);
        EXPECT_EQ(ConfigReadProblem(cwdFile), refused +
                                                  "can be changed by other users; make it writable by you "
                                                  "alone (chmod go-w " +
                                                  cwdFile + ").");
        EXPECT_EQ(titleRead(), "(nothing read)");
    }
    ASSERT_EQ(chmod(QFile::encodeName(cwdFile).constData(), 0600), 0);
    EXPECT_EQ(titleRead(), "mine");

    // Another user's file (root may give it away; nobody else can).
    if (chown(QFile::encodeName(cwdFile).constData(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    EXPECT_TRUE(ConfigReadProblem(cwdFile).startsWith(refused + "belongs to another user ("))
        << ConfigReadProblem(cwdFile).toStdString();
    EXPECT_EQ(titleRead(), "(nothing read)");
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

    // The folder is made, and the file is the user's alone (it may come to
    // hold proxy passwords); a file that appeared meanwhile is kept as it is.
    EXPECT_EQ(CreateConfigFromExample(installed, UserConfigFile()), "");
    EXPECT_EQ(ReadFile(UserConfigFile()), "[General]\ntitle=installed\n");
    struct stat made {};
    ASSERT_EQ(stat(QFile::encodeName(UserConfigFile()).constData(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0600u);
    EXPECT_EQ(CreateConfigFromExample(inBuildFolder, UserConfigFile()), "");
    EXPECT_EQ(ReadFile(UserConfigFile()), "[General]\ntitle=installed\n");

    QFile::remove(UserConfigFile());
    const QString missing = root + "/nowhere.ini";
    EXPECT_TRUE(CreateConfigFromExample(missing, UserConfigFile())
                    .startsWith("The example configuration " + missing + " cannot be read: "));
    EXPECT_FALSE(QFileInfo::exists(UserConfigFile()));
    QDir(root).removeRecursively();
}

// ---------------------------------------------------------------------------
// Section [Connection]: every key, its default, values that are not
// understood, and the problem that holds the login

namespace {

struct ConnectionRow {
    QByteArray Keys;                                // the section's lines
    std::function<void(TConnectionSettings&)> Read; // what differs from the defaults
    QString Problem;
    bool Encrypted = false;
};

const QString Hex64 = "ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89:ab:cd:ef:01:23:45:67:89";
// The reader's problem: the file, the key and the reason the rule gives.
QString Fault(const char* key, const QString& reason)
{
    return QStringLiteral("In [Connection] of Braxo.ini, %1: %2").arg(key, reason);
}
QString Unclear(const QString& value)
{
    return Fault("tls", '"' + value +
                            "\" is not understood: write 1, yes, true or on for TLS (0, no, false or off "
                            "without), and comments on lines of their own.");
}
const QString OffButAsked =
    Fault("tls", "TLS is off, but a CA file, peer name or fingerprint asks for it: remove one or the other.");
const QString NotAFingerprint =
    Fault("tls fingerprint", "not a SHA-256 fingerprint (64 hexadecimal digits, colons allowed).");

void Tls(TConnectionSettings& s) { s.Tls.Enabled = true; }

} // namespace

TEST(ConnectionSettingsReader, EveryKeyItsDefaultBadValuesAndTheProblemEachGives)
{
    const QString file = QDir(TestEnvironment::WorkDir()).filePath("Braxo.ini");
    const auto nothing = [](TConnectionSettings&) {};
    const std::vector<ConnectionRow> rows{
        {"", nothing, {}},
        {"address = alerts.example.net:7001", [](auto& s) { s.Address = "alerts.example.net:7001"; }, {}},
        {"address=", nothing, {}},
        {"address=alerts.example.net", [](auto& s) { s.Address = "alerts.example.net"; }, {}},
        {"http tunnel url= http://t.example/stream ", [](auto& s) { s.HttpTunnelUrl = "http://t.example/stream"; }, {}},
        {"http tunnel url=HTTPS://t.example/stream",
         [](auto& s) { s.HttpTunnelUrl = "HTTPS://t.example/stream"; },
         {},
         true},
        {"send timeout=2500", [](auto& s) { s.SendTimeout = 2500; }, {}},
        // Only the tunnel uses it.
        {"send timeout=0", [](auto& s) { s.SendTimeout = 0; }, {}},
        {"http tunnel url=http://t/s\nsend timeout=0",
         [](auto& s) { s.HttpTunnelUrl = "http://t/s", s.SendTimeout = 0; },
         Fault("send timeout", "0 is not a number of milliseconds (1 to 2147483647).")},
        {"http tunnel url=http://t/s\nsend timeout=soon", [](auto& s) { s.HttpTunnelUrl = "http://t/s"; },
         Fault("send timeout", "soon is not a number of milliseconds (1 to 2147483647).")},
        {"address=:7001", [](auto& s) { s.Address = ":7001"; }, Fault("address", "no host before the colon.")},
        {"address=alerts.example.net:99999", [](auto& s) { s.Address = "alerts.example.net:99999"; },
         Fault("address", "99999 is not a port number (1 to 65535).")},
        {"http tunnel url=http://t.example:0/stream", [](auto& s) { s.HttpTunnelUrl = "http://t.example:0/stream"; },
         Fault("http tunnel url", "0 is not a port number (1 to 65535).")},
        {"http tunnel url=ftp://t.example/stream", [](auto& s) { s.HttpTunnelUrl = "ftp://t.example/stream"; },
         Fault("http tunnel url", "not an http:// or https:// URL.")},
        {"socks server=socks.lan", [](auto& s) { s.SocksServer = "socks.lan", s.SocksLevel = 5; }, {}},
        {"socks server=socks.lan\nsocks port=1081\nsocks level=4\nsocks user=alice\nsocks password=s3",
         [](auto& s) {
             s.SocksServer = "socks.lan", s.SocksPort = 1081, s.SocksLevel = 4;
             s.SocksUser = "alice", s.SocksPassword = "s3";
         },
         {}},
        // A port or level not understood would go elsewhere than the trader meant: refused.
        {"socks server=socks.lan\nsocks port=x", [](auto& s) { s.SocksServer = "socks.lan", s.SocksLevel = 5; },
         Fault("socks port", "x is not a port number (1 to 65535).")},
        {"socks server=socks.lan\nsocks level=3", [](auto& s) { s.SocksServer = "socks.lan"; },
         Fault("socks level", "3 is not a SOCKS level: write 4 or 5.")},
        {"proxy=p\nproxy port=0", [](auto& s) { s.Proxy = "p", s.ProxyPort = 0; },
         Fault("proxy port", "0 is not a port number (1 to 65535).")},
        {"socks level=4\nsocks user=alice", [](auto& s) { s.SocksUser = "alice"; }, {}},
        {"proxy=proxy.lan\nproxy port=3128\nproxy user=bob\nproxy password=p4",
         [](auto& s) { s.Proxy = "proxy.lan", s.ProxyPort = 3128, s.ProxyUser = "bob", s.ProxyPassword = "p4"; },
         {}},
        {"proxy=proxy.lan\nproxy port=", [](auto& s) { s.Proxy = "proxy.lan"; }, {}},
        {"tls=1", Tls, {}, true},
        {" TLS = On ", Tls, {}, true},
        {"tls=\"yes\"", Tls, {}, true},
        {"tls=TRUE", Tls, {}, true},
        {"tls fingerprint=" + Hex64.toLatin1(), [](auto& s) { Tls(s), s.Tls.Fingerprint = Hex64; }, {}, true},
        {"tls ca file=ca.pem",
         [](auto& s) { Tls(s), s.Tls.CaFile = QDir(TestEnvironment::WorkDir()).filePath("ca.pem"); },
         {},
         true},
        {"tls=\ntls peer name=alerts", [](auto& s) { Tls(s), s.Tls.PeerName = "alerts"; }, {}, true},
        {"tls=", nothing, {}},
        {"tls=0", nothing, {}},
        {"tls=no", nothing, {}},
        {"tls=False", nothing, {}},
        {"tls=OFF", nothing, {}},
        // In doubt, TLS, and refused with the reason: a plain connection
        // would carry the login in clear.
        {"tls=2", [](auto& s) { Tls(s), s.Tls.Problem = Unclear("2"); }, Unclear("2"), true},
        {"tls=1 ; required", [](auto& s) { Tls(s), s.Tls.Problem = Unclear("1 ; required"); }, Unclear("1 ; required"),
         true},
        {"tls=off\ntls ca file=ca.pem",
         [](auto& s) {
             Tls(s), s.Tls.CaFile = QDir(TestEnvironment::WorkDir()).filePath("ca.pem");
             s.Tls.Problem = OffButAsked;
         },
         OffButAsked, true},
        {"tls fingerprint=ab", [](auto& s) { Tls(s), s.Tls.Fingerprint = "ab", s.Tls.Problem = NotAFingerprint; },
         NotAFingerprint, true},
        {"http tunnel url=http://t/s\nsocks server=s\nsocks level=4",
         [](auto& s) { s.HttpTunnelUrl = "http://t/s", s.SocksServer = "s", s.SocksLevel = 4; },
         Fault("socks level", "an HTTP tunnel cannot go through SOCKS 4: choose SOCKS 5, or an HTTP proxy.")},
        {"http tunnel url=http://t/s\nsocks server=s\nsocks level=4\nproxy=p",
         [](auto& s) { s.HttpTunnelUrl = "http://t/s", s.SocksServer = "s", s.SocksLevel = 4, s.Proxy = "p"; },
         {}},
        {"http tunnel url=http://t/s\ntls=on", [](auto& s) { Tls(s), s.HttpTunnelUrl = "http://t/s"; },
         Fault("http tunnel url", "TLS is on, so the URL must start with https://."), true},
        {"http tunnel url=https://t/s\ntls=on", [](auto& s) { Tls(s), s.HttpTunnelUrl = "https://t/s"; }, {}, true},
    };
    for (const ConnectionRow& row : rows) {
        TestEnvironment::WriteIni("[Connection]\n" + row.Keys + "\n");
        const TConnectionSettingsRead read = ReadConnectionSettings(file);
        TConnectionSettings expected;
        row.Read(expected);
        EXPECT_TRUE(read.Settings == expected) << row.Keys.toStdString();
        EXPECT_EQ(read.Problem, row.Problem) << row.Keys.toStdString();
        EXPECT_EQ(read.Settings.EncryptionRequired(), row.Encrypted) << row.Keys.toStdString();
    }

    // The settings dialog shows every fault at once, each by its key.
    const QList<TConnectionFault> faults = FindConnectionFaults({{"socks port", "0"}, {"tls fingerprint", "ab"}});
    ASSERT_EQ(faults.size(), 2);
    EXPECT_EQ(faults[0].Key, "socks port");
    EXPECT_EQ(faults[1].Key, "tls fingerprint");

    // A file that is not there means the defaults; one the client refuses
    // to read is not read, and says why.
    TestEnvironment::RemoveIni();
    EXPECT_TRUE(ReadConnectionSettings(file).Settings == TConnectionSettings());
    EXPECT_EQ(ReadConnectionSettings(file).Problem, "");
    TestEnvironment::WriteIni("[Connection]\naddress=alerts.example:7001\n");
    QFile::setPermissions(file, QFile::permissions(file) | QFile::WriteGroup);
    const TConnectionSettingsRead refused = ReadConnectionSettings(file);
    EXPECT_TRUE(refused.Settings == TConnectionSettings());
    EXPECT_EQ(refused.Problem, ConfigReadProblem(file));
    EXPECT_TRUE(refused.Problem.contains("can be changed by other users")) << refused.Problem.toStdString();
    TestEnvironment::RemoveIni();
}
