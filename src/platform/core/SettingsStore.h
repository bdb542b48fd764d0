#pragma once
// The per-user settings: QSettings("Velmora", "Tavisk Alerts") in the native
// format, so on Windows exactly the registry key
// "\Software\Velmora\Tavisk Alerts" under the current user, elsewhere Qt's
// per-user settings file. A section is a subkey (a QSettings group).
//
// Texts are stored as texts and Booleans as the texts "1" and "0". Integers
// are stored as numbers, except that an integer value that already exists as
// text stays text. Reading an integer or a Boolean accepts a number or decimal
// text; anything else gives the default. Nothing is created until written.
// Widget-free.
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class QSettings;

class TSettingsStore {
public:
    TSettingsStore();
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // True when the stored integer value is not 0.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    bool ValueExists(const QString& section, const QString& key) const;
    // Writes pending changes to the backing store now (also done on destruction).
    void Flush();

    // The integer a stored value stands for, if it stands for one: a number,
    // or decimal text with an optional sign and surrounding blanks.
    static std::optional<int> IntegerFromStored(const QVariant& stored);

private:
    static QString Path(const QString& section, const QString& key);
    QVariant Stored(const QString& section, const QString& key) const;

    std::unique_ptr<QSettings> m_settings;
};

// The names under which the per-user settings live.
inline constexpr char SettingsOrganization[] = "Velmora";
inline constexpr char SettingsApplication[] = "Tavisk Alerts";
