#pragma once
// "Connection Settings": edits the [Connection] keys of the configuration
// file in use, by the rules the reader applies (FindConnectionFaults), so it
// saves nothing a conversation would refuse. Saving changes only the lines of
// the keys that changed (TIniEditor) and replaces the file whole; a file the
// trader may not write is left as it is, and a per-user copy is offered
// instead. "Show server certificate" asks the server for its certificate
// without logging in, so that it can be pinned knowingly.
#include "Shared/ConnectionSettings.h"
#include "platform/core/CertificateProbe.h"
#include "platform/core/IniEditor.h"
#include <QDialog>
#include <QMap>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TConfigInUse;

class TConnectionSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TConnectionSettingsDialog(TConfigInUse& config, QWidget* parent = nullptr);

    // --- Replaceable platform pieces (tests put their own here) ------------
    // The CA file dialog, starting at the current one; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& current)> CaFileChooser;
    // Asks whether to save a per-user copy instead; true: yes.
    std::function<bool(QWidget* parent, const QString& question)> UserCopyConfirmer;
    std::function<TSaveResult(const QString& path, const QByteArray& bytes)> SaveFile = SaveFileReplacing;

    // --- Event handlers -------------------------------------------------------
    void SaveButtonClick();
    void ApplyButtonClick();
    void CaFileButtonClick();
    void ShowCertificateButtonClick();
    void UseFingerprintButtonClick();

    // The text field of a key; nullptr for "tls" and "socks level".
    QLineEdit* Field(const QByteArray& key) const { return m_fields.value(key); }
    // What the fields say, over what the file holds.
    TConnectionTexts Texts() const;
    // The field's label, without its colon: "SOCKS port".
    static QString FieldName(const QByteArray& key);

    // --- Components ----------------------------------------------------------
    QLineEdit* FileEdit = nullptr;
    QComboBox* SocksLevelBox = nullptr;
    QCheckBox* TlsCheckBox = nullptr;
    QPushButton* CaFileButton = nullptr;
    QPushButton* ShowCertificateButton = nullptr;
    QPlainTextEdit* CertificateView = nullptr;
    QPushButton* UseFingerprintButton = nullptr;
    QLabel* ProblemLabel = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* ApplyButton = nullptr;
    QPushButton* CancelButton = nullptr;

signals:
    // Saved to the file in use (which may now be the per-user copy); with
    // reconnect, the trader asked for a new conversation with it at once.
    void Saved(bool reconnect);

private:
    QGroupBox* BuildServerGroup();
    QGroupBox* BuildSocksGroup();
    QGroupBox* BuildProxyGroup();
    QGroupBox* BuildTlsGroup();
    QLineEdit* NewField(const QByteArray& key, bool secret, const QString& placeholder);
    QLineEdit* AddField(class QFormLayout* form, const QByteArray& key, bool secret = false,
                        const QString& placeholder = QString());
    void Load();
    void ShowFaults(const QList<TConnectionFault>& faults);
    void ShowProblem(const QString& text);
    // Saves and closes; false, with the reason shown, when nothing was saved.
    bool Save();
    // The file with the changed keys; empty with why set when they cannot be written.
    std::optional<TIniEditor> Edited(const TConnectionTexts& texts, QString& why) const;
    bool SaveUserCopy(TIniEditor edited, const QString& refusal);
    QString TlsText(TConnectionTexts texts) const;
    bool TlsAsTheFileSays(const TConnectionTexts& texts) const;
    // Reads the file in use into m_bytes; why it cannot be edited, if so.
    QString ReadFileAgain();
    void ShowCertificate(const TPresentedCertificate& presented, const QString& note);

    TConfigInUse& m_config;
    QString m_path;     // the file edited; empty: none yet (the per-user file is made)
    QString m_refusal;  // why the file cannot be edited
    QByteArray m_bytes; // the file as read
    TConnectionTexts m_original;
    QMap<QByteArray, QLineEdit*> m_fields;
    QString m_presentedFingerprint;
    TCertificateProbe m_probe;
};
