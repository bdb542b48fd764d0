#include "platform/core/SettingsStore.h"
#include <QSettings>
#include <QStringList>
#include <climits>
#include <optional>

TSettingsStore::TSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             SettingsOrganization, SettingsApplication))
{
}

TSettingsStore::~TSettingsStore() { Flush(); }

QString TSettingsStore::Path(const QString& section, const QString& key) { return section + '/' + key; }

QVariant TSettingsStore::Stored(const QString& section, const QString& key) const
{
    return m_settings->value(Path(section, key));
}

bool TSettingsStore::ValueExists(const QString& section, const QString& key) const
{
    return m_settings->contains(Path(section, key));
}

namespace {

// A hand-edited settings file may hold a text with commas, which the file
// format reads back as a list: it is still one text.
QString StoredText(const QVariant& stored)
{
    if (stored.typeId() == QMetaType::QStringList)
        return stored.toStringList().join(',');
    return stored.toString();
}

bool IsStoredAsText(const QVariant& stored)
{
    const int type = stored.typeId();
    return type == QMetaType::QString || type == QMetaType::QStringList || type == QMetaType::QByteArray;
}

} // namespace

std::optional<int> TSettingsStore::IntegerFromStored(const QVariant& stored)
{
    if (!stored.isValid())
        return std::nullopt;
    bool ok = false;
    int value = 0;
    if (IsStoredAsText(stored)) {
        value = StoredText(stored).trimmed().toInt(&ok, 10);
    } else {
        // A registry number is a 32-bit DWORD: keep its bits as a signed integer.
        const qlonglong wide = stored.toLongLong(&ok);
        value = static_cast<int>(static_cast<quint32>(wide));
        if (ok && (wide > 0xFFFFFFFFLL || wide < INT_MIN))
            ok = false;
    }
    if (!ok)
        return std::nullopt;
    return value;
}

QString TSettingsStore::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QVariant stored = Stored(section, key);
    if (!stored.isValid())
        return defaultValue;
    return StoredText(stored);
}

int TSettingsStore::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    return IntegerFromStored(Stored(section, key)).value_or(defaultValue);
}

bool TSettingsStore::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TSettingsStore::WriteString(const QString& section, const QString& key, const QString& value)
{
    m_settings->setValue(Path(section, key), value);
}

void TSettingsStore::WriteInteger(const QString& section, const QString& key, int value)
{
    const QVariant stored = Stored(section, key);
    if (stored.isValid() && IsStoredAsText(stored))
        m_settings->setValue(Path(section, key), QString::number(value));
    else
        m_settings->setValue(Path(section, key), value);
}

void TSettingsStore::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TSettingsStore::Flush() { m_settings->sync(); }
