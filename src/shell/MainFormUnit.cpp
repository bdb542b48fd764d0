#include "shell/MainFormUnit.h"
#include "Zembra/MainConnectionUnit.h"
#include "base/DebugLog.h"
#include "platform/core/ConfigLocation.h"
#include "platform/core/IniFile.h"
#include "platform/core/PasswordKeyring.h"
#include "platform/core/SettingsStore.h"
#include "platform/gui/ErrorReport.h"
#include "shell/ConnectionSettingsDialog.h"
#include "shell/ExternalLinkingWindowUnit.h"
#include "shell/PriceSpikePlayer.h"
#include "shell/VantorExcludeFormUnit.h"
#include "shell/WindowPlacement.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/RecordAndReplay.h"
#include "Shared/AlertReplay.h"
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <clocale>

namespace {

constexpr char Version[] = " " TAVISK_VERSION;
constexpr char DesignCaption[] = "Trading Alerts";
const QString MainSection = QStringLiteral("Main");

// The client size of the window in its design, and the page size that gives.
constexpr int DesignClientWidth = 314;
constexpr int DesignClientHeight = 271;
constexpr int DesignPageWidth = 306;
constexpr int DesignPageHeight = 243;

// Masks the password with "~" for every character. Password echo keeps the
// text out of the clipboard and off the screen; only the mask differs from
// the platform's.
class TTildeMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '~';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The design's font. Where it is not installed, a narrow sans-serif face of
// about the same width stands in, so that the captions fit the design bounds.
QFont DesignFont()
{
    const QString family = QStringLiteral("MS Sans Serif");
    if (QFont::substitutes(family).isEmpty())
        QFont::insertSubstitutions(family, {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                            QStringLiteral("Arial"), QStringLiteral("Helvetica"),
                                            QStringLiteral("DejaVu Sans Condensed")});
    return QFont(family, 8);
}

QLineEdit* NewPasswordEdit(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    auto* style = new TTildeMaskStyle;
    style->setParent(edit);
    edit->setStyle(style);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QLabel* NewLabel(const QString& caption, QWidget* page, int left, int top)
{
    auto* label = new QLabel(caption, page);
    label->adjustSize();
    label->move(left, top);
    return label;
}

template <typename Control>
Control* Place(Control* control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, height);
    return control;
}

QString ChooseSoundFile(QWidget* parent, const QString& directory, const QString& preselected)
{
    QFileDialog dialog(parent, QStringLiteral("Select Sound"), directory, QStringLiteral("Wav files (*.wav)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!preselected.isEmpty())
        dialog.selectFile(preselected);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString InstalledExampleConfig() { return ExampleConfigFile(QCoreApplication::applicationDirPath()); }

QString Listed(const QStringList& paths)
{
    QString list;
    for (const QString& path : paths)
        list += QStringLiteral("\n    ") + QDir::toNativeSeparators(path);
    return list;
}

const QString NoConfigurationHeading = QStringLiteral("No configuration file was found");

QString NoConfigurationText()
{
    return QStringLiteral("Looked for:") + Listed(ConfigSearchPlaces()) +
           QStringLiteral("\n\nThe example opens one alert window per list style, fed by the\n"
                          "reference alert server on this computer (start tavisk-alert-server\n"
                          "to try it). Create yours from it, then edit it for your own server:") +
           Listed({UserConfigFile()});
}

// A tooltip that shows the text as it is: Qt takes text that looks like
// markup for markup, and a server's or a file's text may look like anything.
QString PlainToolTip(const QString& text)
{
    return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpacePre);
}

// A read-only field for a name that may be longer than the field.
QLineEdit* NewShownName(const QString& accessibleName, QWidget* page, int left, int top, int width)
{
    auto* edit = Place(new QLineEdit(page), left, top, width, 20);
    edit->setReadOnly(true);
    edit->setAccessibleName(accessibleName);
    return edit;
}

// More alert windows than anyone can watch is a broken configuration, not a
// request to open a million windows.
constexpr int MaxAlertWindows = 64;

} // namespace

TMainForm::TMainForm(TMainConnection& connection, const TMainFormParts& parts, QWidget* parent)
    : QWidget(parent), SoundFileChooser(ChooseSoundFile), ExampleConfigSource(InstalledExampleConfig), m_parts(parts),
      m_connection(connection)
{
    BuildForm();
    ConnectHandlers();
    FormCreate();
}

TMainForm::~TMainForm() { qDeleteAll(m_alertWindows); }

void TMainForm::EndProgramOnClose()
{
    connect(this, &TMainForm::Closed, qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// The form design

void TMainForm::BuildForm()
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(DesignCaption));
    setFont(DesignFont());
    move(226, 197);
    resize(DesignClientWidth, DesignClientHeight);

    PageControl1 = new QTabWidget(this);
    PageControl1->addTab(BuildConnectionPage(), QStringLiteral("Connection"));
    PageControl1->addTab(BuildWindowsPage(), QStringLiteral("Windows"));
    PageControl1->setCurrentIndex(0);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(BuildConfigurationNotice());
    layout->addWidget(PageControl1);

    UsernameEdit->setFocus();
}

QWidget* TMainForm::BuildConnectionPage()
{
    auto* page = new QWidget;
    NewLabel(QStringLiteral("Status:"), page, 8, 8);
    // Two lines: why an attempt failed can take more than one.
    StatusLabel = Place(new QLabel(page), 48, 8, DesignPageWidth - 56, 36);
    StatusLabel->setTextFormat(Qt::PlainText);
    StatusLabel->setWordWrap(true);
    StatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    NewLabel(QStringLiteral("Username:"), page, 8, 48);
    UsernameEdit = Place(new QLineEdit(page), 8, 64, 121, 21);
    NewLabel(QStringLiteral("Password:"), page, 144, 48);
    PasswordEdit = Place(NewPasswordEdit(page), 144, 64, 121, 21);
    LoginButton = Place(new QPushButton(QStringLiteral("Login"), page), 24, 96, 75, 25);
    LoginButton->setDefault(true);
    ResetConnectionButton = Place(new QPushButton(QStringLiteral("Reset Connection"), page), 120, 96, 121, 25);
    // Right under Login: whether the password will travel encrypted.
    EncryptionLabel = Place(new QLabel(page), 8, 130, DesignPageWidth - 16, 16);
    EncryptionLabel->setTextFormat(Qt::PlainText);
    RememberPasswordCheckBox = Place(new QCheckBox(QStringLiteral("Remember password"), page), 8, 147, 160, 18);
    // Until the keyring has said it is there.
    RememberPasswordCheckBox->setEnabled(false);
    QWidget::setTabOrder(UsernameEdit, PasswordEdit);
    QWidget::setTabOrder(PasswordEdit, LoginButton);
    QWidget::setTabOrder(LoginButton, ResetConnectionButton);
    BuildReplayControls(page);
    BuildConfigurationInUse(page);
    return page;
}

void TMainForm::BuildConfigurationInUse(QWidget* page)
{
    constexpr int left = 88;
    constexpr int width = DesignPageWidth - left - 8;
    ConfigFileEdit = NewShownName(QStringLiteral("Configuration file"), page, left, 166, width);
    NewLabel(QStringLiteral("Configuration:"), page, 8, 168)->setBuddy(ConfigFileEdit);
    ConfigShadowLabel = Place(new QLabel(page), left, 188, width, 26);
    ConfigShadowLabel->setTextFormat(Qt::PlainText);
    ConfigShadowLabel->setWordWrap(true);
    ConfigShadowLabel->hide();
    ServerEdit = NewShownName(QStringLiteral("Server"), page, left, 218, width);
    NewLabel(QStringLiteral("Server:"), page, 8, 220)->setBuddy(ServerEdit);
    // On the row of "Remember password", so that the server's line keeps the
    // whole width its text needs.
    constexpr int settingsWidth = 66;
    SettingsButton = Place(new QPushButton(QStringLiteral("Settings..."), page), DesignPageWidth - 8 - settingsWidth,
                           145, settingsWidth, 20);
}

QWidget* TMainForm::BuildWindowsPage()
{
    auto* page = new QWidget;
    NewLabel(QStringLiteral("Double click on a window's name to make it visible."), page, 8, 8);
    AlertWindowsListBox = Place(new QListWidget(page), 8, 24, 296, 138);
    AlertWindowsListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    ConfigureExternalLinkingButton =
        Place(new QPushButton(QStringLiteral("Configure External Linking"), page), 8, 175, 137, 25);
    SetFontButton = Place(new QPushButton(QStringLiteral("Font"), page), 152, 175, 33, 25);
    VantorExcludeButton = Place(new QPushButton(QStringLiteral("Vantor Exclude"), page), 192, 175, 105, 25);
    VantorExcludeButton->hide();
    PriceSpikeSoundCheckBox =
        Place(new QCheckBox(QStringLiteral("Enable Price Spike Audible Signal"), page), 8, 206, 185, 25);
    SetupSoundButton = Place(new QPushButton(QStringLiteral("Select Sound"), page), 208, 206, 89, 25);
    SetupSoundButton->setEnabled(false);
    page->installEventFilter(this);
    return page;
}

QFrame* TMainForm::BuildConfigurationNotice()
{
    ConfigurationNotice = new QFrame(this);
    ConfigurationNotice->setFrameShape(QFrame::StyledPanel);
    ConfigurationNotice->setAccessibleName(QStringLiteral("Configuration"));
    ConfigurationNoticeHeading = new QLabel(ConfigurationNotice);
    ConfigurationNoticeHeading->setTextFormat(Qt::PlainText);
    QFont bold = ConfigurationNoticeHeading->font();
    bold.setBold(true);
    ConfigurationNoticeHeading->setFont(bold);
    ConfigurationNoticeLabel = new QLabel(ConfigurationNotice);
    ConfigurationNoticeLabel->setTextFormat(Qt::PlainText);
    ConfigurationNoticeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CreateConfigurationButton = new QPushButton(QStringLiteral("Create Configuration From Example"), ConfigurationNotice);
    auto* layout = new QVBoxLayout(ConfigurationNotice);
    layout->addWidget(ConfigurationNoticeHeading);
    layout->addWidget(ConfigurationNoticeLabel);
    layout->addWidget(CreateConfigurationButton, 0, Qt::AlignLeft);
    ConfigurationNotice->hide();
    return ConfigurationNotice;
}

void TMainForm::ConnectHandlers()
{
    auto handle = [this](QAbstractButton* button, void (TMainForm::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { RunReportingErrors([&] { (this->*handler)(); }); });
    };
    handle(LoginButton, &TMainForm::LoginButtonClick);
    handle(ResetConnectionButton, &TMainForm::ResetConnectionButtonClick);
    handle(ConfigureExternalLinkingButton, &TMainForm::ConfigureExternalLinkingButtonClick);
    handle(SetFontButton, &TMainForm::SetFontButtonClick);
    handle(VantorExcludeButton, &TMainForm::VantorButtonClick);
    handle(PriceSpikeSoundCheckBox, &TMainForm::PriceSpikeSoundCheckBoxClick);
    handle(SetupSoundButton, &TMainForm::SetupSoundButtonClick);
    handle(CreateConfigurationButton, &TMainForm::CreateConfigurationButtonClick);
    handle(RememberPasswordCheckBox, &TMainForm::RememberPasswordCheckBoxClick);
    handle(SettingsButton, &TMainForm::SettingsButtonClick);
    connect(AlertWindowsListBox, &QListWidget::itemDoubleClicked, this,
            [this] { RunReportingErrors([this] { AlertWindowsListBoxDblClick(); }); });
    // Login is the default button: Enter in either edit presses it.
    connect(UsernameEdit, &QLineEdit::returnPressed, LoginButton, &QPushButton::click);
    connect(PasswordEdit, &QLineEdit::returnPressed, LoginButton, &QPushButton::click);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && AlertWindowsListBox && watched == AlertWindowsListBox->parentWidget())
        FollowWindowsPageSize();
    return QWidget::eventFilter(watched, event);
}

void TMainForm::FollowWindowsPageSize()
{
    const QWidget* page = AlertWindowsListBox->parentWidget();
    const int grownWidth = page->width() - DesignPageWidth;
    const int grownHeight = page->height() - DesignPageHeight;
    AlertWindowsListBox->resize(std::max(0, 296 + grownWidth), std::max(0, 138 + grownHeight));
    for (QWidget* bottomLeft : {static_cast<QWidget*>(ConfigureExternalLinkingButton),
                                static_cast<QWidget*>(SetFontButton), static_cast<QWidget*>(VantorExcludeButton)})
        bottomLeft->move(bottomLeft->x(), 175 + grownHeight);
    PriceSpikeSoundCheckBox->move(PriceSpikeSoundCheckBox->x(), 206 + grownHeight);
    SetupSoundButton->move(SetupSoundButton->x(), 206 + grownHeight);
}

// ---------------------------------------------------------------------------
// Creation and destruction

void TMainForm::FormCreate()
{
    // Numbers are read and written with a point whatever the user's regional
    // settings; Qt's own number conversions always use one.
    std::setlocale(LC_NUMERIC, "C");
    m_ini = std::make_unique<TIniFile>(m_parts.Config.Path());
    m_statusWatch = m_connection.WatchStatus([this] { UpdateStatusLabel(); });
    UpdateStatusLabel();
    m_encryptionWatch = m_connection.WatchEncryption([this] { UpdateEncryptionLabel(); });
    UpdateEncryptionLabel();
    m_settings = std::make_unique<TSettingsStore>();
    ReadMainSettings();
    LoadTitle();
    CreateAlertWindows();
    ShowSoundControls();
    ShowConfigurationProblem();
    ShowConfigurationInUse();
    PlaceMainWindow();
    RestoreAlertWindowPlacements();
    CheckKeyring();
}

void TMainForm::ReadMainSettings()
{
    UsernameEdit->setText(m_settings->ReadString(MainSection, QStringLiteral("User"), QString()));
    const QString fontName = m_settings->ReadString(MainSection, QStringLiteral("FontName"), font().family());
    const int fontSize = m_settings->ReadInteger(MainSection, QStringLiteral("FontSize"), font().pointSize());
    m_alertFont = QFont(fontName, fontSize > 0 ? fontSize : font().pointSize());
    m_soundFileName = m_settings->ReadString(MainSection, QStringLiteral("SoundFileName"), QString());
    PriceSpikeSoundCheckBox->setChecked(m_settings->ReadBool(MainSection, QStringLiteral("EnableSound"), false));
    PriceSpikeSoundCheckBoxClick();
}

void TMainForm::ShowSoundControls()
{
    const bool soundOffered = m_ini->ReadString("General", "sound", "0") == "1";
    PriceSpikeSoundCheckBox->setVisible(soundOffered);
    SetupSoundButton->setVisible(soundOffered);
}

void TMainForm::PlaceMainWindow() { RestoreWindowPosition(*m_settings, MainSection, this); }

void TMainForm::closeEvent(QCloseEvent* event)
{
    RunReportingErrors([this] { FormDestroy(); });
    QWidget::closeEvent(event);
    emit Closed();
}

void TMainForm::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    SaveAlertWindowPlacements();
    SaveMainSettings();
    m_settings->Flush();
}

void TMainForm::SaveMainSettings()
{
    m_settings->WriteString(MainSection, QStringLiteral("User"), UsernameEdit->text());
    m_settings->WriteString(MainSection, QStringLiteral("FontName"), m_alertFont.family());
    m_settings->WriteInteger(MainSection, QStringLiteral("FontSize"), m_alertFont.pointSize());
    SaveWindowPosition(*m_settings, MainSection, *this);
    m_settings->WriteString(MainSection, QStringLiteral("SoundFileName"), m_soundFileName);
    m_settings->WriteBool(MainSection, QStringLiteral("EnableSound"), PriceSpikeSoundCheckBox->isChecked());
}

// ---------------------------------------------------------------------------
// A missing or unreadable configuration file

void TMainForm::ShowConfigurationProblem()
{
    const QString path = m_parts.Config.Path();
    if (!QFileInfo::exists(path))
        ShowConfigurationNotice(NoConfigurationHeading, NoConfigurationText(), true);
    else if (const QString problem = ConfigReadProblem(path); !problem.isEmpty())
        ShowConfigurationNotice(QStringLiteral("The configuration file is not used"),
                                problem + QStringLiteral("\nFix or remove it, then start the program again."), false);
}

void TMainForm::ShowConfigurationNotice(const QString& heading, const QString& text, bool offerCreate)
{
    ConfigurationNoticeHeading->setText(heading);
    ConfigurationNoticeLabel->setText(text);
    CreateConfigurationButton->setVisible(offerCreate);
    ConfigurationNotice->show();
    // The pages keep their designed size; the notice is added above them.
    layout()->activate();
    const QSize notice = ConfigurationNotice->sizeHint();
    resize(std::max(DesignClientWidth, notice.width()), DesignClientHeight + layout()->spacing() + notice.height());
}

void TMainForm::HideConfigurationNotice()
{
    ConfigurationNotice->hide();
    layout()->activate();
    resize(DesignClientWidth, DesignClientHeight);
}

void TMainForm::CreateConfigurationButtonClick()
{
    const QString example = ExampleConfigSource ? ExampleConfigSource() : QString();
    const QString target = UserConfigFile();
    const QString problem =
        example.isEmpty() ? QStringLiteral("The example configuration is not installed. Looked for:") +
                                Listed(ExampleConfigPlaces(QCoreApplication::applicationDirPath()))
                          : CreateConfigFromExample(example, target);
    if (!problem.isEmpty()) {
        ShowConfigurationNotice(NoConfigurationHeading, NoConfigurationText() + QStringLiteral("\n\n") + problem, true);
        return;
    }
    OpenCreatedConfiguration(target);
}

void TMainForm::OpenCreatedConfiguration(const QString& path)
{
    m_parts.Config.Use(path);
    NoteConfigFileInUse(path);
    m_ini = std::make_unique<TIniFile>(path);
    HideConfigurationNotice();
    ShowConfigurationInUse();
    LoadTitle();
    CreateAlertWindows();
    ShowSoundControls();
    RestoreAlertWindowPlacements();
    // A conversation made before the file existed has the built-in address
    // and none of the new categories.
    m_connection.ReloadServerAddress();
    if (m_connection.Conversation())
        m_connection.ResetConnection();
}

// ---------------------------------------------------------------------------
// Connection page

void TMainForm::UpdateStatusLabel()
{
    const QString& status = m_connection.Status();
    StatusLabel->setText(m_statusNote.isEmpty() ? status : status + QStringLiteral("  (") + m_statusNote + u')');
    // In full, should it not fit, with the recording's trouble in its own words.
    StatusLabel->setToolTip(PlainToolTip(m_statusNoteDetail.isEmpty() ? StatusLabel->text()
                                                                      : StatusLabel->text() + u'\n' + m_statusNoteDetail));
    m_statusLineObservers.Notify(QStringLiteral("TMainForm.UpdateStatusLabel"));
}

QString TMainForm::StatusLine() const { return StatusLabel->text(); }

void TMainForm::ShowConfigurationInUse()
{
    const QString path = m_parts.Config.Path();
    const QString shown = QFileInfo::exists(path) ? QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())
                                                  : QStringLiteral("none (built-in defaults)");
    ConfigFileEdit->setText(shown);
    ConfigFileEdit->setToolTip(PlainToolTip(shown));
    // A file named with --config was chosen, not found in the current folder.
    const QString shadowed = m_parts.Config.NamedOnCommandLine() ? QString() : ShadowedConfigFile(path);
    ConfigShadowLabel->setText(QStringLiteral("Found in the current folder, so used instead of your own ") +
                               QDir::toNativeSeparators(shadowed));
    ConfigShadowLabel->setToolTip(PlainToolTip(ConfigShadowLabel->text()));
    ConfigShadowLabel->setVisible(!shadowed.isEmpty());
    ServerEdit->setText(DescribeServer(m_connection.ReadSettings().Settings));
    ServerEdit->setToolTip(PlainToolTip(ServerEdit->text()));
}

void TMainForm::UpdateEncryptionLabel() { EncryptionLabel->setText(EncryptionText(m_connection.Encryption())); }

QString TMainForm::EncryptionText(const TEncryption& encryption)
{
    if (!encryption.Protocol.isEmpty())
        return QStringLiteral("Encrypted (%1)").arg(encryption.Protocol);
    return encryption.Required ? QStringLiteral("Not connected yet; TLS required") : QStringLiteral("Not encrypted");
}

void TMainForm::LoadTitle()
{
    // The design caption, not the current one: a configuration made after
    // start-up loads the title a second time.
    const QByteArray title = m_ini->ReadString("General", "title", DesignCaption);
    const QString caption = QString::fromLocal8Bit(title) + QString::fromLatin1(Version);
    // The taskbar shows each window's own title here, so the main window's
    // caption is the application's title. Qt's application display name is
    // left alone: set, it would be appended to every other window's title.
    setWindowTitle(caption);
}

std::pair<QByteArray, QByteArray> TMainForm::LoginCredentials() const
{
    const QByteArray prefix = m_ini->ReadString("General", "prefix");
    const QByteArray userName = prefix + UsernameEdit->text().toLocal8Bit();
    QByteArray password = PasswordEdit->text().toLocal8Bit();
    if (m_ini->ReadString("General", "preprocess password") == "1")
        password = QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex();
    return {userName, password};
}

void TMainForm::LoginButtonClick()
{
    // Each conversation reads the file afresh: show what this one will use.
    ShowConfigurationInUse();
    const auto [userName, password] = LoginCredentials();
    m_connection.SetUserName(userName);
    m_connection.SetPassword(password);
    KeepOrForgetPassword();
}

void TMainForm::ResetConnectionButtonClick() { m_connection.ResetConnection(); }

void TMainForm::ConfigureExternalLinkingButtonClick()
{
    if (m_linkingWindow)
        m_linkingWindow->ShowLinkingWindow();
}

// ---------------------------------------------------------------------------
// Connection settings and the password in the keyring

void TMainForm::SettingsButtonClick()
{
    if (!m_settingsDialog) {
        m_settingsDialog = new TConnectionSettingsDialog(m_parts.Config, this);
        m_settingsDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_settingsDialog, &TConnectionSettingsDialog::Saved, this, [this](bool reconnect) {
            ShowConfigurationInUse();
            if (reconnect)
                m_connection.ResetConnection();
        });
    }
    m_settingsDialog->show();
    m_settingsDialog->raise();
    m_settingsDialog->activateWindow();
}

TConnectionSettingsDialog* TMainForm::SettingsDialog() const { return m_settingsDialog; }

QString TMainForm::PasswordServer() const { return KeyringServer(m_connection.ReadSettings().Settings); }

// The keyring answers later; the window may be gone by then.
void TMainForm::CheckKeyring()
{
    const QPointer<TMainForm> form(this);
    m_parts.Keyring.CheckAvailable([form](const TKeyringAnswer& answer) {
        if (!form)
            return;
        form->m_keyringAvailable = answer.Error.isEmpty();
        form->RememberPasswordCheckBox->setEnabled(form->m_keyringAvailable);
        form->RememberPasswordCheckBox->setToolTip(PlainToolTip(answer.Error));
        if (form->m_keyringAvailable)
            form->RecallPassword();
    });
}

void TMainForm::RecallPassword()
{
    const QString user = UsernameEdit->text();
    if (user.isEmpty() || !LoginButton->isEnabled())
        return;
    const QPointer<TMainForm> form(this);
    m_parts.Keyring.Read(PasswordServer(), user, [form, user](const TKeyringAnswer& answer) {
        if (form)
            form->LogInWithRecalledPassword(answer, user);
    });
}

// Unless the trader has begun to type meanwhile.
void TMainForm::LogInWithRecalledPassword(const TKeyringAnswer& answer, const QString& user)
{
    if (!answer.Error.isEmpty()) {
        ShowKeyringTrouble(answer.Error);
        return;
    }
    if (!answer.Found || UsernameEdit->text() != user || !PasswordEdit->text().isEmpty())
        return;
    RememberPasswordCheckBox->setChecked(true);
    PasswordEdit->setText(answer.Password);
    DebugNote(QStringLiteral("Logging in as %1 with the password remembered in the keyring").arg(user));
    LoginButtonClick();
}

// Also with the box clear: a password kept from before is not kept on.
void TMainForm::KeepOrForgetPassword()
{
    if (!m_keyringAvailable || UsernameEdit->text().isEmpty())
        return;
    if (!RememberPasswordCheckBox->isChecked()) {
        ForgetPassword();
        return;
    }
    const QPointer<TMainForm> form(this);
    m_parts.Keyring.Store(PasswordServer(), UsernameEdit->text(), PasswordEdit->text(),
                          [form](const TKeyringAnswer& answer) {
                              if (form && !answer.Error.isEmpty())
                                  form->ShowKeyringTrouble(answer.Error);
                          });
}

void TMainForm::ForgetPassword()
{
    const QPointer<TMainForm> form(this);
    m_parts.Keyring.Delete(PasswordServer(), UsernameEdit->text(), [form](const TKeyringAnswer& answer) {
        if (form && !answer.Error.isEmpty())
            form->ShowKeyringTrouble(answer.Error);
    });
}

// Set, the box remembers at the next Login; cleared, it forgets at once.
void TMainForm::RememberPasswordCheckBoxClick()
{
    if (!RememberPasswordCheckBox->isChecked() && m_keyringAvailable && !UsernameEdit->text().isEmpty())
        ForgetPassword();
}

void TMainForm::ShowKeyringTrouble(const QString& error)
{
    RememberPasswordCheckBox->setToolTip(PlainToolTip(error));
    DebugNote(QStringLiteral("Keyring: ") + error);
}

// ---------------------------------------------------------------------------
// Price-spike sound

void TMainForm::PriceSpikeSoundCheckBoxClick() { SetupSoundButton->setEnabled(PriceSpikeSoundCheckBox->isChecked()); }

void TMainForm::SetupSoundButtonClick()
{
    QString directory = QDir::currentPath();
    QString preselected;
    if (!m_soundFileName.isEmpty()) {
        const QFileInfo current(m_soundFileName);
        directory = current.absolutePath();
        preselected = current.fileName();
    }
    const QString chosen = SoundFileChooser ? SoundFileChooser(this, directory, preselected) : QString();
    if (!chosen.isEmpty())
        m_soundFileName = chosen;
    m_parts.SpikePlayer.PlayNow(m_soundFileName);
}

void TMainForm::PlayPriceSpikeSound()
{
    // The check box's own visibility, not the page's: the sound plays while
    // the "Windows" page is not the one showing.
    if (PriceSpikeSoundCheckBox->isHidden() || !PriceSpikeSoundCheckBox->isChecked())
        return;
    m_parts.SpikePlayer.PlaySpike(SoundDelaySource ? SoundDelaySource() : 0, m_soundFileName);
}

// ---------------------------------------------------------------------------
// The alert windows' duties: creating them, listing them, their placements,
// their font and the exclude list. Each duty has exactly one method here.

void TMainForm::CreateAlertWindows()
{
    const int count = AlertWindowCount();
    for (int i = 0; i < count; ++i) {
        // No owner: a window of its own, which this form destroys when it goes.
        auto* window =
            new TAlertForm({m_connection, m_parts.ExcludeList, m_parts.SymbolLinks, m_parts.PriceSpikeSound, m_parts.Notices});
        window->setFont(m_alertFont);
        window->LoadSettings(*m_ini, "Alert Window " + QByteArray::number(i));
        RestoreAlertWindowNotifying(*window);
        m_alertWindows.append(window);
        AlertWindowsListBox->addItem(window->windowTitle());
        m_connection.AddCategory(window->Subscription());
    }
    VantorExcludeButton->setVisible(m_ini->ReadString("General", "exclude list", "0") == "1");
}

// Not a number, or negative: no windows at all. Too many: none either, and
// the user is told why (in a message box and the debug log).
int TMainForm::AlertWindowCount() const
{
    const int count = std::max(0, m_ini->ReadInteger("General", "window count", 0));
    if (count <= MaxAlertWindows)
        return count;
    const QString message = QStringLiteral("The configuration %1 asks for %2 alert windows; at most %3 are allowed, "
                                           "so none were opened. Correct \"window count\" in its [General] section.")
                                .arg(m_ini->FileName())
                                .arg(count)
                                .arg(MaxAlertWindows);
    DebugOutput(message);
    ShowErrorToUser(message);
    return 0;
}

QString TMainForm::PlacementSection(const TAlertForm& window)
{
    return QStringLiteral("Window:") + QString::fromUtf8(window.WindowKey());
}

void TMainForm::RestoreAlertWindowPlacements()
{
    QList<QPair<QString, QWidget*>> windows;
    for (TAlertForm* window : std::as_const(m_alertWindows))
        windows.append({PlacementSection(*window), window});
    RestoreWindowPlacements(*m_settings, windows, *this);
}

void TMainForm::RestoreAlertWindowNotifying(TAlertForm& window)
{
    const QString section = PlacementSection(window);
    window.SetNotifying(m_settings->ReadBool(section, QStringLiteral("Notify"), window.Notifying()));
    connect(&window, &TAlertForm::NotifyToggled, this, [this, section](bool on) {
        m_settings->WriteBool(section, QStringLiteral("Notify"), on);
    });
}

void TMainForm::SaveAlertWindowPlacements()
{
    for (const TAlertForm* window : std::as_const(m_alertWindows))
        SaveWindowPlacement(*m_settings, PlacementSection(*window), *window);
}

void TMainForm::SetFontButtonClick()
{
    bool confirmed = false;
    const QFont chosen = QFontDialog::getFont(&confirmed, m_alertFont, this);
    if (!confirmed)
        return;
    // The main window keeps its own font; every alert window gets this one.
    m_alertFont = chosen;
    for (TAlertForm* window : std::as_const(m_alertWindows))
        window->setFont(m_alertFont);
}

namespace {

// A minimised window comes back to its normal state.
void ShowAndRaise(QWidget& window)
{
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

void TMainForm::AlertWindowsListBoxDblClick()
{
    const QList<QListWidgetItem*> selected = AlertWindowsListBox->selectedItems();
    if (selected.isEmpty())
        return;
    const int index = AlertWindowsListBox->row(selected.first());
    if (index < 0 || index >= m_alertWindows.size())
        return;
    ShowAndRaise(*m_alertWindows.at(index));
}

bool TMainForm::ShowWindowTitled(const QString& title)
{
    const auto titled = std::find_if(m_alertWindows.cbegin(), m_alertWindows.cend(),
                                     [&title](const TAlertForm* window) { return window->windowTitle() == title; });
    QWidget* window = titled != m_alertWindows.cend() ? static_cast<QWidget*>(*titled)
                      : title == windowTitle()      ? this
                                                    : nullptr;
    if (window)
        ShowAndRaise(*window);
    return window != nullptr;
}

void TMainForm::VantorButtonClick()
{
    // Start-up makes the one dialog; a main window without it makes its own.
    if (!m_excludeForm)
        m_excludeForm = new TVantorExcludeForm(m_parts.ExcludeList, this);
    m_excludeForm->EditExcludeList();
}

// ---------------------------------------------------------------------------
// Recording and replay

void TMainForm::BuildReplayControls(QWidget* page)
{
    // In the encryption line's place, which a replay does not use.
    PauseReplayButton = Place(new QPushButton(QStringLiteral("Pause Replay"), page), 24, 130, 121, 25);
    PauseReplayButton->hide();
    connect(PauseReplayButton, &QAbstractButton::clicked, this,
            [this] { RunReportingErrors([this] { PauseReplayButtonClick(); }); });
}

void TMainForm::ShowRecordAndReplay(TRecordAndReplay& session)
{
    if (!session.RecordingProblem().isEmpty())
        ShowRecordingProblem(session.RecordingProblem());
    const QPointer<TMainForm> form(this);
    session.OnRecordingProblem = [form](const QString& text) {
        if (form)
            form->ShowRecordingProblem(text);
    };
    m_replay = session.Replay();
    if (!m_replay)
        return;
    // The session does not connect during a replay.
    for (QWidget* login : {static_cast<QWidget*>(LoginButton), static_cast<QWidget*>(ResetConnectionButton),
                           static_cast<QWidget*>(UsernameEdit), static_cast<QWidget*>(PasswordEdit)})
        login->setEnabled(false);
    // Where the pause button goes, and nobody logs in.
    RememberPasswordCheckBox->hide();
    // Nothing is connected, so nothing is encrypted or not.
    EncryptionLabel->hide();
    PauseReplayButton->show();
    connect(m_replay, &TAlertReplay::PausedChanged, this, [this] { FollowReplayState(); });
    connect(m_replay, &TAlertReplay::ReachedEnd, this, [this] { FollowReplayState(); });
    connect(m_replay, &QObject::destroyed, this, [this] { m_replay = nullptr; });
    FollowReplayState();
}

void TMainForm::PauseReplayButtonClick()
{
    if (!m_replay)
        return;
    if (m_replay->Paused())
        m_replay->Resume();
    else
        m_replay->Pause();
}

void TMainForm::FollowReplayState()
{
    const bool paused = m_replay && m_replay->Paused();
    PauseReplayButton->setText(paused ? QStringLiteral("Resume Replay") : QStringLiteral("Pause Replay"));
    PauseReplayButton->setEnabled(m_replay && !m_replay->Finished());
}

void TMainForm::ShowRecordingProblem(const QString& text)
{
    // The whole text is in the debug log; the status line has room for a hint.
    m_statusNote = QStringLiteral("recording stopped");
    m_statusNoteDetail = QStringLiteral("Recording stopped: ") + text;
    UpdateStatusLabel();
}
