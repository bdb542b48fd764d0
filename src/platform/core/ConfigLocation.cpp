#include "platform/core/ConfigLocation.h"
#include "base/DebugLog.h"
#include "platform/core/IniFile.h"
#include "platform/core/SettingsStore.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <utility>

namespace {

QString Shown(const QString& path) { return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()); }

QString ExampleInShare(const QString& root)
{
    return QDir::cleanPath(root + QStringLiteral("/share/tavisk-alerts/") + QLatin1String(ConfigFileName));
}

} // namespace

QString UserConfigFolder()
{
    // The file format's path, not the native one: on Windows the native
    // settings are a registry key, the file format's folder is the user's own.
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, SettingsOrganization, SettingsApplication);
    return QFileInfo(settings.fileName()).absolutePath();
}

QString UserConfigFile() { return QDir(UserConfigFolder()).filePath(QLatin1String(ConfigFileName)); }

QStringList ConfigSearchPlaces()
{
    return {QDir::current().absoluteFilePath(QLatin1String(ConfigFileName)), UserConfigFile()};
}

QString LocateConfigFile(const QString& commandLineFile)
{
    if (!commandLineFile.isEmpty())
        return QFileInfo(commandLineFile).absoluteFilePath();
    for (const QString& place : ConfigSearchPlaces())
        if (QFileInfo::exists(place))
            return place;
    return QString();
}

QString ShadowedConfigFile(const QString& inUse)
{
    const QStringList places = ConfigSearchPlaces();
    const QFileInfo used(inUse);
    const QFileInfo user(places.constLast());
    // Started in the per-user folder itself, the two names are one file.
    if (used.absoluteFilePath() != places.constFirst() || !user.exists() ||
        used.canonicalFilePath() == user.canonicalFilePath())
        return QString();
    return user.absoluteFilePath();
}

QString ConfigReadProblem(const QString& path)
{
    QByteArray text;
    return ReadIniFileText(path, text);
}

QStringList ExampleConfigPlaces(const QString& applicationDir)
{
    return {ExampleInShare(applicationDir + QStringLiteral("/..")), ExampleInShare(applicationDir)};
}

QString ExampleConfigFile(const QString& applicationDir)
{
    for (const QString& place : ExampleConfigPlaces(applicationDir))
        if (QFileInfo(place).isFile())
            return place;
    return QString();
}

QString CreateConfigFromExample(const QString& example, const QString& target)
{
    if (QFileInfo::exists(target))
        return QString();
    QFile source(example);
    if (!source.open(QIODevice::ReadOnly))
        return QStringLiteral("The example configuration %1 cannot be read: %2.").arg(Shown(example), source.errorString());
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("The folder %1 cannot be made.").arg(QDir::toNativeSeparators(folder));
    // Written whole or not at all: a half-written file would be found at the
    // next start and read as a broken configuration.
    QSaveFile copy(target);
    // Yours alone: the proxy and SOCKS passwords go into this file.
    const bool written = copy.open(QIODevice::WriteOnly) &&
                         copy.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                         copy.write(source.readAll()) >= 0 && copy.commit();
    if (!written)
        return QStringLiteral("The configuration file %1 cannot be written: %2.").arg(Shown(target), copy.errorString());
    return QString();
}

void NoteConfigFileInUse(const QString& path)
{
    const QString line = QFileInfo::exists(path) ? QStringLiteral("Configuration file: %1").arg(Shown(path))
                                                 : QStringLiteral("No configuration file; looked for %1")
                                                       .arg(ConfigSearchPlaces().join(QStringLiteral(" and ")));
    DebugNote(line);
}

TConfigInUse::TConfigInUse(QString path, bool namedOnCommandLine)
    : m_path(std::move(path)), m_namedOnCommandLine(namedOnCommandLine)
{
}

void TConfigInUse::Use(const QString& path)
{
    m_path = path;
}
