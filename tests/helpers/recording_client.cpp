// A client without windows for the crash test of recording: logs in to the
// server, subscribes to the categories and records every alert it receives
// exactly as the client does, until it is killed (or after a minute, so that
// a forgotten one ends by itself).
//
//   tavisk-recording-client HOST:PORT FILE CATEGORY...
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/RecordAndReplay.h"
#include "base/DebugLog.h"
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: tavisk-recording-client HOST:PORT FILE CATEGORY...\n", stderr);
        return 2;
    }
    TConnectionSettings settings;
    settings.Address = arguments[1];
    TMainConnection connection({[settings] { return TConnectionSettingsRead{settings, {}}; }, [] { return QByteArray(); }});
    TRecordAndReplay recording(connection);
    QString error;
    if (!recording.Start({arguments[2], QString(), QString(), 1}, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (const QString& category : arguments.mid(3))
        connection.AddCategory(category.toUtf8());
    connection.SetUserName("recorder");
    connection.SetPassword("recorder");
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
