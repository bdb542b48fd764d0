#pragma once
// Time-stamped log lines to stderr and, when asked, to a file.
#include <QFile>
#include <QString>

namespace AlertServer {

class Logger {
public:
    static Logger& Instance();
    bool OpenFile(const QString& path, QString& error);
    void Line(const QString& text);

private:
    QFile File;
};

inline void Log(const QString& text)
{
    Logger::Instance().Line(text);
}

} // namespace AlertServer
