#include "Logger.h"
#include <QDateTime>
#include <cstdio>

namespace AlertServer {

Logger& Logger::Instance()
{
    static Logger logger;
    return logger;
}

bool Logger::OpenFile(const QString& path, QString& error)
{
    File.setFileName(path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        error = File.errorString();
        return false;
    }
    return true;
}

void Logger::Line(const QString& text)
{
    const QByteArray line =
        (QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    if (File.isOpen()) {
        File.write(line);
        File.flush();
    }
}

} // namespace AlertServer
