#include "TestEnvironment.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
std::unique_ptr<QTemporaryDir> g_workDir;
}

namespace TestEnvironment {

void Install()
{
    g_workDir = std::make_unique<QTemporaryDir>();
    const QString settingsDir = g_workDir->path() + "/settings";
    QDir().mkpath(settingsDir);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir);
    QStandardPaths::setTestModeEnabled(true);
    QDir::setCurrent(g_workDir->path());
}

QString WorkDir() { return g_workDir->path(); }

void WriteIni(const QByteArray& contents)
{
    QFile f(QDir(WorkDir()).filePath("Braxo.ini"));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(contents);
}

void RemoveIni() { QFile::remove(QDir(WorkDir()).filePath("Braxo.ini")); }

void ClearSettings()
{
    QSettings s("Velmora", "Tavisk Alerts");
    s.clear();
    s.sync();
}

bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return true;
}

void DeliverPosted()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

} // namespace TestEnvironment
