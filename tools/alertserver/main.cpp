// tavisk-alert-server: the project's reference alert server. See README.md.
#include "AlertServer.h"
#include "ControlChannel.h"
#include "Logger.h"
#include "base/DebugLog.h"
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {
void PrintLine(const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavisk-alert-server"));
    using namespace AlertServer;

    QString error;
    QString help;
    const auto options = ParseOptions(app.arguments(), error, help);
    if (!options) {
        if (error.isEmpty()) {
            PrintLine(help);
            return 0;
        }
        std::fprintf(stderr, "tavisk-alert-server: %s\n%s", qPrintable(error), qPrintable(help));
        return 2;
    }
    if (!options->LogFile.isEmpty() && !Logger::Instance().OpenFile(options->LogFile, error)) {
        std::fprintf(stderr, "tavisk-alert-server: cannot open log %s: %s\n", qPrintable(options->LogFile),
                     qPrintable(error));
        return 2;
    }

    AlertServerCore server(*options);
    if (!server.Listen(error)) {
        std::fprintf(stderr, "tavisk-alert-server: %s\n", qPrintable(error));
        return 1;
    }
    PrintLine(QStringLiteral("listening on %1").arg(server.Port()));
    if (const auto httpPort = server.HttpPort())
        PrintLine(QStringLiteral("http listening on %1").arg(*httpPort));

    ControlChannel control;
    QObject::connect(&control, &ControlChannel::LineReceived, &server,
                     [&server](const QString& line) { PrintLine(server.ExecuteCommand(line)); });
    QObject::connect(&control, &ControlChannel::StopSignalled, &app, [](int signalNumber) {
        Log(QStringLiteral("signal %1: shutting down").arg(signalNumber));
        QCoreApplication::quit();
    });
    QObject::connect(&server, &AlertServerCore::QuitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (options->DurationMs > 0)
        QTimer::singleShot(options->DurationMs, &app, &QCoreApplication::quit);

    const int result = app.exec();
    PrintLine(server.Summary());
    Log(server.Summary());
    return result;
}
