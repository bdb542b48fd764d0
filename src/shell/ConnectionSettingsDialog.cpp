#include "shell/ConnectionSettingsDialog.h"
#include "platform/core/ConfigLocation.h"
#include "platform/core/IniFile.h"
#include "platform/gui/ErrorReport.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr char Section[] = "Connection";

// Each key's field, by the name its label gives it.
const QList<std::pair<QByteArray, QString>> FieldNames{{"address", QStringLiteral("Server address")},
                                                       {"http tunnel url", QStringLiteral("HTTP tunnel URL")},
                                                       {"send timeout", QStringLiteral("Send timeout")},
                                                       {"socks server", QStringLiteral("SOCKS server")},
                                                       {"socks port", QStringLiteral("SOCKS port")},
                                                       {"socks level", QStringLiteral("SOCKS level")},
                                                       {"socks user", QStringLiteral("SOCKS user")},
                                                       {"socks password", QStringLiteral("SOCKS password")},
                                                       {"proxy", QStringLiteral("HTTP proxy")},
                                                       {"proxy port", QStringLiteral("HTTP proxy port")},
                                                       {"proxy user", QStringLiteral("HTTP proxy user")},
                                                       {"proxy password", QStringLiteral("HTTP proxy password")},
                                                       {"tls", QStringLiteral("Use TLS")},
                                                       {"tls ca file", QStringLiteral("CA file")},
                                                       {"tls peer name", QStringLiteral("Peer name")},
                                                       {"tls fingerprint", QStringLiteral("Fingerprint")}};

QString ChooseCaFile(QWidget* parent, const QString& current)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("CA File"), current,
                                        QStringLiteral("PEM certificates (*.pem *.crt);;All files (*)"));
}

bool ConfirmUserCopy(QWidget* parent, const QString& question)
{
    return QMessageBox::question(parent, QStringLiteral("Connection Settings"), question,
                                 QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Save) == QMessageBox::Save;
}

QString Shown(const QString& path) { return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()); }

QString When(const QDateTime& time) { return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")); }

} // namespace

TConnectionSettingsDialog::TConnectionSettingsDialog(TConfigInUse& config, QWidget* parent)
    : QDialog(parent), CaFileChooser(ChooseCaFile), UserCopyConfirmer(ConfirmUserCopy), m_config(config)
{
    setObjectName(QStringLiteral("ConnectionSettingsDialog"));
    setWindowTitle(QStringLiteral("Connection Settings"));
    FileEdit = new QLineEdit(this);
    FileEdit->setReadOnly(true);
    FileEdit->setAccessibleName(QStringLiteral("Configuration file"));
    auto* fileRow = new QFormLayout;
    fileRow->addRow(QStringLiteral("Configuration file:"), FileEdit);

    auto* left = new QVBoxLayout;
    left->addWidget(BuildServerGroup());
    left->addWidget(BuildSocksGroup());
    left->addWidget(BuildProxyGroup());
    left->addStretch();
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(BuildTlsGroup(), 1);

    ProblemLabel = new QLabel(this);
    ProblemLabel->setTextFormat(Qt::PlainText);
    ProblemLabel->setWordWrap(true);
    ProblemLabel->setStyleSheet(QStringLiteral("color: #a00000"));
    ProblemLabel->setAccessibleName(QStringLiteral("Problem"));
    ProblemLabel->hide();
    auto* buttons = new QDialogButtonBox(this);
    SaveButton = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    ApplyButton = buttons->addButton(QStringLiteral("Apply and reconnect"), QDialogButtonBox::ApplyRole);
    CancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    SaveButton->setDefault(true);
    const auto handle = [this](QPushButton* button, void (TConnectionSettingsDialog::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { RunReportingErrors([&] { (this->*handler)(); }); });
    };
    handle(SaveButton, &TConnectionSettingsDialog::SaveButtonClick);
    handle(ApplyButton, &TConnectionSettingsDialog::ApplyButtonClick);
    handle(CaFileButton, &TConnectionSettingsDialog::CaFileButtonClick);
    handle(ShowCertificateButton, &TConnectionSettingsDialog::ShowCertificateButtonClick);
    handle(UseFingerprintButton, &TConnectionSettingsDialog::UseFingerprintButtonClick);
    connect(CancelButton, &QAbstractButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fileRow);
    layout->addLayout(columns);
    layout->addWidget(ProblemLabel);
    layout->addWidget(buttons);
    Load();
}

QString TConnectionSettingsDialog::FieldName(const QByteArray& key)
{
    for (const auto& [fieldKey, name] : FieldNames)
        if (fieldKey == key)
            return name;
    return QString::fromLatin1(key);
}

// ---------------------------------------------------------------------------
// The form

QLineEdit* TConnectionSettingsDialog::NewField(const QByteArray& key, bool secret, const QString& placeholder)
{
    auto* edit = new QLineEdit(this);
    edit->setAccessibleName(FieldName(key));
    edit->setPlaceholderText(placeholder);
    if (secret)
        edit->setEchoMode(QLineEdit::Password);
    m_fields.insert(key, edit);
    return edit;
}

QLineEdit* TConnectionSettingsDialog::AddField(QFormLayout* form, const QByteArray& key, bool secret,
                                               const QString& placeholder)
{
    QLineEdit* edit = NewField(key, secret, placeholder);
    form->addRow(FieldName(key) + u':', edit);
    return edit;
}

QGroupBox* TConnectionSettingsDialog::BuildServerGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Server"), this);
    auto* form = new QFormLayout(group);
    AddField(form, "address", false, TConnectionSettings().Address);
    AddField(form, "http tunnel url", false, QStringLiteral("none: a direct connection"));
    AddField(form, "send timeout", false, QStringLiteral("%1 ms").arg(TConnectionSettings().SendTimeout));
    return group;
}

QGroupBox* TConnectionSettingsDialog::BuildSocksGroup()
{
    auto* group = new QGroupBox(QStringLiteral("SOCKS proxy"), this);
    auto* form = new QFormLayout(group);
    AddField(form, "socks server", false, QStringLiteral("none"));
    AddField(form, "socks port", false, QString::number(TConnectionSettings().SocksPort));
    SocksLevelBox = new QComboBox(this);
    SocksLevelBox->setAccessibleName(FieldName("socks level"));
    // The data is the text written; the first item leaves the key out.
    SocksLevelBox->addItem(QStringLiteral("5 (default)"), QString());
    SocksLevelBox->addItem(QStringLiteral("5"), QStringLiteral("5"));
    SocksLevelBox->addItem(QStringLiteral("4"), QStringLiteral("4"));
    form->addRow(FieldName("socks level") + u':', SocksLevelBox);
    AddField(form, "socks user");
    AddField(form, "socks password", true);
    return group;
}

QGroupBox* TConnectionSettingsDialog::BuildProxyGroup()
{
    auto* group = new QGroupBox(QStringLiteral("HTTP proxy (for the tunnel)"), this);
    auto* form = new QFormLayout(group);
    AddField(form, "proxy", false, QStringLiteral("none"));
    AddField(form, "proxy port", false, QString::number(TConnectionSettings().ProxyPort));
    AddField(form, "proxy user");
    AddField(form, "proxy password", true);
    return group;
}

QGroupBox* TConnectionSettingsDialog::BuildTlsGroup()
{
    auto* group = new QGroupBox(QStringLiteral("TLS"), this);
    auto* form = new QFormLayout(group);
    TlsCheckBox = new QCheckBox(FieldName("tls"), this);
    TlsCheckBox->setAccessibleName(FieldName("tls"));
    form->addRow(TlsCheckBox);
    QLineEdit* caFile = NewField("tls ca file", false, QStringLiteral("the system's authorities only"));
    CaFileButton = new QPushButton(QStringLiteral("Browse..."), this);
    CaFileButton->setAccessibleName(QStringLiteral("Browse for the CA file"));
    // The row holds the edit and its button; the label names the edit.
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caFile, 1);
    caRow->addWidget(CaFileButton);
    auto* caLabel = new QLabel(FieldName("tls ca file") + u':', this);
    caLabel->setBuddy(caFile);
    form->addRow(caLabel, caRow);
    AddField(form, "tls peer name", false, QStringLiteral("the host of the server address"));
    AddField(form, "tls fingerprint", false, QStringLiteral("none: verified by authority"));
    ShowCertificateButton = new QPushButton(QStringLiteral("Show server certificate"), this);
    form->addRow(ShowCertificateButton);
    CertificateView = new QPlainTextEdit(this);
    CertificateView->setReadOnly(true);
    CertificateView->setAccessibleName(QStringLiteral("Server certificate"));
    CertificateView->setPlaceholderText(QStringLiteral("Connects once, without logging in, and shows the "
                                                       "certificate the server presents."));
    CertificateView->setMinimumWidth(380);
    form->addRow(CertificateView);
    UseFingerprintButton = new QPushButton(QStringLiteral("Use this fingerprint"), this);
    UseFingerprintButton->setEnabled(false);
    form->addRow(UseFingerprintButton);
    return group;
}

// ---------------------------------------------------------------------------
// Reading and saving

// The file in use now (the trader may have made one since the dialog
// opened), else the per-user one a save would make; none yet is empty.
// What "tls" says, else what the other keys make of it: what the box shows.
bool TConnectionSettingsDialog::TlsAsTheFileSays(const TConnectionTexts& texts) const
{
    return TlsSwitch(texts.value("tls")).value_or(SettingsFromTexts(texts, m_path).Tls.Enabled);
}

QString TConnectionSettingsDialog::ReadFileAgain()
{
    m_path = m_config.Path();
    const QString source = m_path.isEmpty() ? UserConfigFile() : m_path;
    FileEdit->setText(QFileInfo::exists(source) ? Shown(source)
                                                : QStringLiteral("none yet: saving makes ") + Shown(source));
    m_bytes.clear();
    QString refusal;
    if (QFileInfo::exists(source))
        refusal = ReadIniFileText(source, m_bytes);
    if (refusal.isEmpty()) {
        const TIniEditor editor(m_bytes);
        if (!editor.Problem().isEmpty())
            refusal = QStringLiteral("The file %1 %2, so it is not edited here.").arg(Shown(source), editor.Problem());
    }
    return refusal;
}

void TConnectionSettingsDialog::Load()
{
    m_refusal = ReadFileAgain();
    m_original = ReadConnectionTexts(TIniFile::FromText(m_bytes));
    for (auto field = m_fields.cbegin(); field != m_fields.cend(); ++field)
        field.value()->setText(m_original.value(field.key()));
    const int level = SocksLevelBox->findData(m_original.value("socks level"));
    if (level < 0)
        SocksLevelBox->addItem(m_original.value("socks level"), m_original.value("socks level"));
    SocksLevelBox->setCurrentIndex(level < 0 ? SocksLevelBox->count() - 1 : level);
    TlsCheckBox->setChecked(TlsAsTheFileSays(m_original));
    if (!m_refusal.isEmpty()) {
        ShowProblem(m_refusal);
        SaveButton->setEnabled(false);
        ApplyButton->setEnabled(false);
        return;
    }
    // What the file already gets wrong shows before the trader changes anything.
    ShowFaults(FindConnectionFaults(m_original));
}

// The file's own "tls" text while it says what the box shows: "yes" stays
// "yes", and no key at all stays so while the other keys (a fingerprint,
// say) turn TLS on or off as the box shows. Otherwise what the box shows, so
// that a ticked box never saves a file without TLS; a value nobody
// understands becomes it too.
QString TConnectionSettingsDialog::TlsText(TConnectionTexts texts) const
{
    const QString original = m_original.value("tls");
    const bool checked = TlsCheckBox->isChecked();
    texts.insert("tls", original);
    if ((original.isEmpty() || TlsSwitch(original)) && TlsAsTheFileSays(texts) == checked)
        return original;
    return checked ? QStringLiteral("1") : QStringLiteral("0");
}

TConnectionTexts TConnectionSettingsDialog::Texts() const
{
    TConnectionTexts texts = m_original;
    for (auto field = m_fields.cbegin(); field != m_fields.cend(); ++field)
        texts.insert(field.key(), field.value()->text().trimmed());
    texts.insert("socks level", SocksLevelBox->currentData().toString());
    texts.insert("tls", TlsText(texts));
    return texts;
}

void TConnectionSettingsDialog::ShowProblem(const QString& text)
{
    ProblemLabel->setText(text);
    ProblemLabel->setVisible(!text.isEmpty());
}

void TConnectionSettingsDialog::ShowFaults(const QList<TConnectionFault>& faults)
{
    QStringList lines;
    for (const TConnectionFault& fault : faults)
        lines << FieldName(fault.Key) + QStringLiteral(": ") + fault.Reason;
    ShowProblem(lines.join(u'\n'));
    if (faults.isEmpty())
        return;
    const QByteArray& key = faults.constFirst().Key;
    QWidget* field = key == "tls"           ? static_cast<QWidget*>(TlsCheckBox)
                     : key == "socks level" ? static_cast<QWidget*>(SocksLevelBox)
                                            : static_cast<QWidget*>(Field(key));
    if (field)
        field->setFocus();
}

std::optional<TIniEditor> TConnectionSettingsDialog::Edited(const TConnectionTexts& texts, QString& why) const
{
    TIniEditor editor(m_bytes);
    for (const QByteArray& key : ConnectionKeys()) {
        if (texts.value(key) == m_original.value(key))
            continue;
        if (const QString refused = editor.SetValue(Section, key, texts.value(key).toUtf8()); !refused.isEmpty()) {
            why = FieldName(key) + QStringLiteral(": ") + refused + u'.';
            return std::nullopt;
        }
    }
    return editor;
}

bool TConnectionSettingsDialog::Save()
{
    const TConnectionTexts texts = Texts();
    // The file as it is now: an edit made by hand while the dialog was
    // open is kept, and only the keys changed here are written over it.
    if (const QString problem = ReadFileAgain(); !problem.isEmpty()) {
        ShowProblem(problem);
        return false;
    }
    QString why;
    std::optional<TIniEditor> edited = Edited(texts, why);
    if (!edited) {
        ShowProblem(why);
        return false;
    }
    // A hand edit made meanwhile that turned TLS the other way than the box
    // shows is neither overridden nor saved under the box: the box is set
    // as the file now says, and the trader decides.
    const bool fileSaysTls = TlsAsTheFileSays(ReadConnectionTexts(TIniFile::FromText(edited->Bytes())));
    if (fileSaysTls != TlsCheckBox->isChecked()) {
        TlsCheckBox->setChecked(fileSaysTls);
        ShowProblem(FieldName("tls") +
                    QStringLiteral(": the file was changed meanwhile and now has TLS %1; the box shows it now. Save "
                                   "again to keep it so, or change the box.")
                        .arg(fileSaysTls ? QStringLiteral("on") : QStringLiteral("off")));
        return false;
    }
    // The rules judge what would be saved, hand edits included.
    const QList<TConnectionFault> faults =
        FindConnectionFaults(ReadConnectionTexts(TIniFile::FromText(edited->Bytes())));
    ShowFaults(faults);
    if (!faults.isEmpty())
        return false;
    const QString target = m_path.isEmpty() ? UserConfigFile() : m_path;
    const TSaveResult result = SaveFile(target, edited->Bytes());
    if (result.Outcome == TSaveOutcome::NotWritable && QFileInfo(target) != QFileInfo(UserConfigFile()))
        return SaveUserCopy(*edited, result.Why);
    if (result.Outcome != TSaveOutcome::Saved) {
        ShowProblem(result.Why);
        return false;
    }
    if (target != m_config.Path())
        m_config.Use(target);
    return true;
}

// The copy is the whole file with the changes; a CA file named relative to
// the file's folder is named in full, since the copy lives elsewhere.
bool TConnectionSettingsDialog::SaveUserCopy(TIniEditor edited, const QString& refusal)
{
    const QString copy = UserConfigFile();
    QString question = refusal + QStringLiteral("\n\nSave these settings in a copy of your own, %1, and use it from "
                                                "now on?")
                                     .arg(Shown(copy));
    if (QFileInfo::exists(copy))
        question += QStringLiteral(" It replaces the file there.");
    if (!UserCopyConfirmer || !UserCopyConfirmer(this, question)) {
        ShowProblem(refusal);
        return false;
    }
    const QString caFile = Texts().value("tls ca file");
    if (!caFile.isEmpty() && QFileInfo(caFile).isRelative())
        edited.SetValue(Section, "tls ca file", QFileInfo(m_path).absoluteDir().filePath(caFile).toUtf8());
    const TSaveResult result = SaveFile(copy, edited.Bytes());
    if (result.Outcome != TSaveOutcome::Saved) {
        ShowProblem(result.Why);
        return false;
    }
    m_config.Use(copy);
    NoteConfigFileInUse(copy);
    return true;
}

void TConnectionSettingsDialog::SaveButtonClick()
{
    if (!Save())
        return;
    emit Saved(false);
    accept();
}

void TConnectionSettingsDialog::ApplyButtonClick()
{
    if (!Save())
        return;
    emit Saved(true);
    accept();
}

void TConnectionSettingsDialog::CaFileButtonClick()
{
    const QString current = Field("tls ca file")->text();
    const QString chosen =
        CaFileChooser ? CaFileChooser(this, current.isEmpty() ? QFileInfo(m_path).absolutePath() : current) : QString();
    if (!chosen.isEmpty())
        Field("tls ca file")->setText(QDir::toNativeSeparators(chosen));
}

// ---------------------------------------------------------------------------
// The server's certificate

void TConnectionSettingsDialog::ShowCertificateButtonClick()
{
    const TConnectionTexts texts = Texts();
    QList<TConnectionFault> faults = FindConnectionFaults(texts);
    // The TLS settings are what the certificate helps to write.
    faults.removeIf([](const TConnectionFault& fault) { return fault.Key.startsWith("tls"); });
    ShowFaults(faults);
    if (!faults.isEmpty())
        return;
    const TCertificateRouteChoice choice = CertificateRouteOf(SettingsFromTexts(texts, m_path));
    m_presentedFingerprint.clear();
    UseFingerprintButton->setEnabled(false);
    if (!choice.Refusal.isEmpty()) {
        CertificateView->setPlainText(choice.Refusal);
        return;
    }
    CertificateView->setPlainText(
        QStringLiteral("Asking %1:%2 for its certificate...").arg(choice.Route.Host).arg(choice.Route.Port));
    ShowCertificateButton->setEnabled(false);
    m_probe.Start(choice.Route, [this, note = choice.Note](const TPresentedCertificate& presented) {
        ShowCertificate(presented, note);
    });
}

void TConnectionSettingsDialog::ShowCertificate(const TPresentedCertificate& presented, const QString& note)
{
    ShowCertificateButton->setEnabled(true);
    if (!presented.Error.isEmpty()) {
        CertificateView->setPlainText(QStringLiteral("No certificate: ") + presented.Error);
        return;
    }
    QStringList lines{QStringLiteral("Subject: ") + presented.Subject, QStringLiteral("Issuer: ") + presented.Issuer,
                      QStringLiteral("Valid from: ") + When(presented.ValidFrom),
                      QStringLiteral("Valid until: ") + When(presented.ValidUntil),
                      QStringLiteral("SHA-256: ") + presented.Fingerprint};
    lines << (presented.Doubts.isEmpty()
                  ? QStringLiteral("Verified by a trusted authority for this name.")
                  : QStringLiteral("Not verified: ") + presented.Doubts.join(QStringLiteral("; ")));
    if (!note.isEmpty())
        lines << note;
    CertificateView->setPlainText(lines.join(u'\n'));
    m_presentedFingerprint = presented.Fingerprint;
    UseFingerprintButton->setEnabled(true);
}

// A pin turns TLS on; the box says so rather than contradict it.
void TConnectionSettingsDialog::UseFingerprintButtonClick()
{
    Field("tls fingerprint")->setText(m_presentedFingerprint);
    TlsCheckBox->setChecked(true);
}
