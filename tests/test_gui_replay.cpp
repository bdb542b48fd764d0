// The recording round trip through the windows of the sample configuration:
// a session recorded from the reference server, served again by the server,
// and replayed by the client fill the eight windows alike; the main window's
// replay controls. A binary of its own: a replay takes the process-wide main
// connection offline for good, which would leave other tests without one.
#include "GuiTestParts.h"
#include "LocalMainConnection.h"
#include "ReferenceServer.h"
#include "TestEnvironment.h"
#include "Shared/AlertRecording.h"
#include "Shared/AlertReplay.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/RecordAndReplay.h"
#include "grids/ListGridFamily.h"
#include "shell/MainFormUnit.h"
#include <QAbstractItemModel>
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <gtest/gtest.h>
#include <memory>

using TestEnvironment::WaitFor;
using namespace std::chrono_literals;

namespace {

QByteArray SampleConfiguration()
{
    QFile sample(QStringLiteral(TAVISK_SOURCE_DIR "/examples/Braxo.ini"));
    return sample.open(QIODevice::ReadOnly) ? sample.readAll() : QByteArray();
}

// The main window as the program makes it from the sample configuration,
// and the eight alert windows it made.
std::unique_ptr<TMainForm> StartClient(TMainConnection& connection, GuiTestParts& parts, QList<TAlertForm*>& windows)
{
    TestEnvironment::WriteIni(SampleConfiguration());
    auto form = std::make_unique<TMainForm>(connection, parts.MainFormParts());
    windows = form->AlertWindows();
    return form;
}

// Every cell's text as assistive technology reads it (the header row
// first), window by window, once the rows still waiting for the next pass
// of the event loop are in the grid.
QStringList CellTexts(const QList<TAlertForm*>& windows)
{
    QStringList texts;
    for (TAlertForm* window : windows) {
        window->ShowRowsNow();
        const QAbstractItemModel& model = *window->Grid()->model();
        texts << "== " + window->windowTitle();
        QStringList header;
        for (int column = 0; column < model.columnCount(); ++column)
            header << model.headerData(column, Qt::Horizontal).toString();
        texts << header.join(" | ");
        for (int row = 0; row < model.rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < model.columnCount(); ++column)
                cells << model.index(row, column).data().toString();
            texts << cells.join(" | ");
        }
    }
    return texts;
}

// The client's connection, whose conversations go to Address.
struct Client {
    Client()
    {
        TMainConnectionDependencies hooks;
        hooks.ConnectionFactory = [this](TTalkWithServer& talk) { return ConnectionsTo(Address)(talk); };
        Connection = MakeLocalMainConnection(hooks);
    }
    void LogInTo(const QByteArray& address, const QByteArray& user)
    {
        Address = QString::fromUtf8(address);
        Connection->SetUserName(user);
        Connection->SetPassword("pw");
    }
    QString Address;
    std::unique_ptr<TMainConnection> Connection;
};

QSet<QByteArray> RecordedCategories(const QString& path, qint64& alerts)
{
    QSet<QByteArray> categories;
    TAlertRecordingReader reader;
    alerts = 0;
    if (!reader.Open(path))
        return categories;
    while (const auto alert = reader.Next()) {
        categories.insert(alert->Category);
        ++alerts;
    }
    return categories;
}

} // namespace

#ifdef TAVISK_SERVER_BIN
TEST(ReplayRoundTrip, RecordedServedAndReplayedSessionsFillTheWindowsAlike)
{
    Client client;
    TMainConnection& connection = *client.Connection;
    TestEnvironment::ClearSettings();
    const QString recording = QDir(TestEnvironment::WorkDir()).filePath("round-trip.tsv.gz");

    // Live, recording.
    QStringList live;
    {
        ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
        ASSERT_TRUE(server.Start({"--rate", "40", "--seed", "9"}));
        TRecordAndReplay recorder(connection);
        QString error;
        ASSERT_TRUE(recorder.Start({recording, QString(), QString(), 1}, error));
        GuiTestParts parts;
        QList<TAlertForm*> windows;
        const auto form = StartClient(connection, parts, windows);
        ASSERT_EQ(windows.size(), 8);
        client.LogInTo(server.Address(), "live");
        ASSERT_TRUE(WaitFor([&] { return server.Sent(1, 8).size() >= 240; }, 30s));
        // Logged out: the conversation and whatever it had not yet handed on go.
        connection.SetUserName(QByteArray());
        live = CellTexts(windows);
    }
    qint64 alerts = 0;
    EXPECT_EQ(RecordedCategories(recording, alerts).size(), 8);
    EXPECT_GE(alerts, 200);

    // Served again by the reference server, once and at full speed.
    {
        ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
        ASSERT_TRUE(server.Start({"--replay", recording, "--speed", "0", "--replay-once"}));
        GuiTestParts parts;
        QList<TAlertForm*> windows;
        const auto form = StartClient(connection, parts, windows);
        client.LogInTo(server.Address(), "served");
        EXPECT_TRUE(server.WaitForLog("replay: end of the recording; 0 recorded alerts no client was subscribed to",
                                      1, 30s))
            << server.Log().toStdString();
        EXPECT_TRUE(WaitFor([&] { return CellTexts(windows) == live; }, 30s));
        EXPECT_EQ(CellTexts(windows), live);
        connection.SetUserName(QByteArray());
    }

    // Replayed by the client at full speed, paused before the first alert.
    GuiTestParts parts;
    QList<TAlertForm*> windows;
    const auto form = StartClient(connection, parts, windows);
    const QStringList empty = CellTexts(windows);
    TRecordAndReplay session(connection);
    QString error;
    ASSERT_TRUE(session.Start({QString(), QString(), recording, 0}, error)) << error.toStdString();
    form->ShowRecordAndReplay(session);
    ASSERT_TRUE(form->PauseReplayButton->isVisibleTo(form.get()));
    // Nothing is connected, so the encryption line makes way for the button.
    EXPECT_FALSE(form->EncryptionLabel->isVisibleTo(form.get()));
    EXPECT_FALSE(form->LoginButton->isEnabled());
    EXPECT_FALSE(form->UsernameEdit->isEnabled());
    QAccessibleInterface* const button = QAccessible::queryAccessibleInterface(form->PauseReplayButton);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(QAccessible::Name), "Pause Replay");

    form->PauseReplayButton->click();
    session.Replay()->DeliverDue();
    EXPECT_EQ(form->PauseReplayButton->text(), "Resume Replay");
    EXPECT_EQ(form->StatusLabel->text(), "Replay: starting (paused)");
    EXPECT_EQ(CellTexts(windows), empty);

    form->PauseReplayButton->click();
    ASSERT_TRUE(WaitFor([&] { return session.Replay()->Finished(); }, 30s));
    EXPECT_EQ(CellTexts(windows), live);
    EXPECT_EQ(session.Replay()->Delivered(), alerts);
    EXPECT_TRUE(form->StatusLabel->text().startsWith("Replay: 20")) << form->StatusLabel->text().toStdString();
    EXPECT_TRUE(form->StatusLabel->text().endsWith(" (end of recording)"));
    EXPECT_FALSE(form->PauseReplayButton->isEnabled());
    // The session stays offline: Login would not connect.
    EXPECT_EQ(connection.Conversation(), nullptr);
}
#endif
