#pragma once
// The main window, "Trading Alerts": takes the user name and password and
// hands them to the main connection, shows the connection status, and offers
// external linking, the alert font, the exclude list and the price-spike
// sound. It reads its settings at creation and saves them when it closes.
#include "base/Subscription.h"
#include <QString>
#include <QByteArray>
#include <QFont>
#include <QPointer>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class TAlertForm;
class TAlertNotices;
class TAlertReplay;
class TConfigInUse;
class TConnectionSettingsDialog;
class TExternalLinkingWindow;
class TIniFile;
class TMainConnection;
class TPasswordKeyring;
class TPriceSpikePlayer;
class TPriceSpikeSound;
class TRecordAndReplay;
class TSettingsStore;
class TSymbolLinks;
class TSymbolSet;
class TVantorExcludeForm;
struct TEncryption;
struct TKeyringAnswer;

// What start-up gives the main window; each outlives it. The last four go on
// to every alert window it makes.
struct TMainFormParts {
    TConfigInUse& Config;
    TPriceSpikePlayer& SpikePlayer;
    TSymbolSet& ExcludeList;
    TSymbolLinks& SymbolLinks;
    TPriceSpikeSound& PriceSpikeSound;
    TAlertNotices& Notices;
    // Where "Remember password" keeps the password.
    TPasswordKeyring& Keyring;
};

class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate (which creates the alert windows,
    // registered with the connection, whose status the window shows).
    TMainForm(TMainConnection& connection, const TMainFormParts& parts, QWidget* parent = nullptr);
    // The alert windows go with it.
    ~TMainForm() override;

    // --- Wiring by start-up: the forms created after this one ---------------
    void SetLinkingWindow(TExternalLinkingWindow* window) { m_linkingWindow = window; }
    // Without one, the "Exclude" button makes its own.
    void SetExcludeForm(TVantorExcludeForm* form) { m_excludeForm = form; }
    // The price-spike delay in milliseconds (the first fake data form's field).
    std::function<int()> SoundDelaySource;
    // Closing this window ends the program: every event loop stops at once,
    // a waiting price-spike sound included. (QCoreApplication::quit would
    // first close every other window and give up when one of them refuses,
    // as the linking window and the fake data form do: they only hide.)
    void EndProgramOnClose();

    // --- Replaceable platform pieces (tests put fakes here) -----------------
    // Runs the "Select Sound" file dialog starting in the directory with the
    // file preselected (may be empty); returns the chosen path, or empty when
    // the user cancelled.
    using TSoundFileChooser =
        std::function<QString(QWidget* parent, const QString& directory, const QString& preselected)>;
    TSoundFileChooser SoundFileChooser;
    // The example configuration a first configuration is made from; empty
    // when none is installed.
    std::function<QString()> ExampleConfigSource;

    // --- Event handlers and operations --------------------------------------
    void LoginButtonClick();
    void ResetConnectionButtonClick();
    void ConfigureExternalLinkingButtonClick();
    void PriceSpikeSoundCheckBoxClick();
    void SetupSoundButtonClick();
    void SetFontButtonClick();
    void AlertWindowsListBoxDblClick();
    void VantorButtonClick();
    void CreateConfigurationButtonClick();
    void RememberPasswordCheckBoxClick();
    void SettingsButtonClick();
    void UpdateStatusLabel();
    void UpdateEncryptionLabel();
    // Names the configuration file in use and the server it leads to.
    void ShowConfigurationInUse();
    // "Encrypted (TLS 1.3)", "Not encrypted", or that only TLS will do.
    static QString EncryptionText(const TEncryption& encryption);
    void LoadTitle();
    void PlayPriceSpikeSound();
    // Saves the alert windows' placements and the "Main" settings; runs once
    // per process, when the window closes or the process ends in order.
    void FormDestroy();

    // --- Recording and replay -------------------------------------------------
    // Offers pause and resume during a replay (where Login and Reset have
    // nothing to do), and shows a recording's write error in the status.
    void ShowRecordAndReplay(TRecordAndReplay& session);
    void PauseReplayButtonClick();
    void ShowRecordingProblem(const QString& text);

    // The open "Connection Settings" dialog, if any.
    TConnectionSettingsDialog* SettingsDialog() const;

    // The user name and password a Login hands to the main connection.
    std::pair<QByteArray, QByteArray> LoginCredentials() const;
    const QString& SoundFileName() const { return m_soundFileName; }
    // The font of every alert window.
    const QFont& AlertFont() const { return m_alertFont; }
    // In creation order; entry i is line i of AlertWindowsListBox.
    const QVector<TAlertForm*>& AlertWindows() const { return m_alertWindows; }
    // Shows, raises and activates the alert window with that title (the first
    // of them), or this window by its own; false when no window has it.
    bool ShowWindowTitled(const QString& title);
    // The status line as it reads, and who follows it while the subscription lives.
    QString StatusLine() const;
    TSubscription WatchStatusLine(std::function<void()> observer) { return m_statusLineObservers.Watch(std::move(observer)); }

    // --- Components ----------------------------------------------------------
    QTabWidget* PageControl1 = nullptr;
    // "Connection" page
    QLabel* StatusLabel = nullptr;
    QLabel* EncryptionLabel = nullptr;
    QLineEdit* UsernameEdit = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QPushButton* LoginButton = nullptr;
    QPushButton* ResetConnectionButton = nullptr;
    QPushButton* PauseReplayButton = nullptr; // shown during a replay only
    // Disabled, with the reason as its tooltip, without a keyring.
    QCheckBox* RememberPasswordCheckBox = nullptr;
    QPushButton* SettingsButton = nullptr;
    // What Login will use: the configuration file, a note when it hides the
    // per-user one, and the server with its encryption, tunnel or proxy.
    QLineEdit* ConfigFileEdit = nullptr;
    QLabel* ConfigShadowLabel = nullptr;
    QLineEdit* ServerEdit = nullptr;
    // "Windows" page
    QListWidget* AlertWindowsListBox = nullptr;
    QPushButton* ConfigureExternalLinkingButton = nullptr;
    QPushButton* SetFontButton = nullptr;
    QPushButton* VantorExcludeButton = nullptr;
    QCheckBox* PriceSpikeSoundCheckBox = nullptr;
    QPushButton* SetupSoundButton = nullptr;
    // Above the pages, only while no readable configuration file is in use:
    // what is wrong, where the client looked, and the offer to make one.
    QFrame* ConfigurationNotice = nullptr;
    QLabel* ConfigurationNoticeHeading = nullptr;
    QLabel* ConfigurationNoticeLabel = nullptr;
    QPushButton* CreateConfigurationButton = nullptr;

signals:
    // The window was closed: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    QWidget* BuildConnectionPage();
    void BuildConfigurationInUse(QWidget* page);
    void BuildReplayControls(QWidget* page);
    void FollowReplayState();
    QWidget* BuildWindowsPage();
    QFrame* BuildConfigurationNotice();
    void ConnectHandlers();
    // Keeps the "Windows" page's bottom row on the bottom edge and lets the
    // list box grow with the page.
    void FollowWindowsPageSize();

    void FormCreate();
    void ReadMainSettings();
    void ShowSoundControls();
    void PlaceMainWindow();
    // --- A missing or unreadable configuration file ---------------------------
    void ShowConfigurationProblem();
    void ShowConfigurationNotice(const QString& heading, const QString& text, bool offerCreate);
    void HideConfigurationNotice();
    // Reads the configuration made after start-up and opens its windows.
    void OpenCreatedConfiguration(const QString& path);
    void SaveMainSettings();

    // --- The password in the keyring ------------------------------------------
    // Enables the box when there is a keyring; then, for a saved user with a
    // remembered password, fills it in and logs in.
    void CheckKeyring();
    void RecallPassword();
    void LogInWithRecalledPassword(const TKeyringAnswer& answer, const QString& user);
    // At Login: remembers the password with the box set, forgets it without.
    void KeepOrForgetPassword();
    void ForgetPassword();
    // The server a remembered password belongs to: where Login goes now.
    QString PasswordServer() const;
    void ShowKeyringTrouble(const QString& error);

    // --- The alert windows' duties -------------------------------------------
    // Each of these is the one place where its duty lives.
    void CreateAlertWindows();
    int AlertWindowCount() const;
    // Each alert window's placement lives in the settings section named
    // after its window key.
    static QString PlacementSection(const TAlertForm& window);
    void RestoreAlertWindowPlacements();
    void SaveAlertWindowPlacements();
    // A window's notify switch: the trader's choice from its menu, kept in
    // its placement section, wins over the configuration's "notify".
    void RestoreAlertWindowNotifying(TAlertForm& window);

    TMainFormParts m_parts;
    std::unique_ptr<TIniFile> m_ini;
    std::unique_ptr<TSettingsStore> m_settings;
    // In creation order; entry i is line i of AlertWindowsListBox.
    QVector<TAlertForm*> m_alertWindows;
    QFont m_alertFont;
    QString m_soundFileName;
    TExternalLinkingWindow* m_linkingWindow = nullptr;
    TVantorExcludeForm* m_excludeForm = nullptr;
    bool m_destroyed = false;
    TAlertReplay* m_replay = nullptr;
    bool m_keyringAvailable = false;
    QPointer<TConnectionSettingsDialog> m_settingsDialog;
    // Follows the connection status while recording is broken; the detail
    // goes into the status line's tooltip.
    QString m_statusNote;
    QString m_statusNoteDetail;
    TObservers m_statusLineObservers;
    TMainConnection& m_connection;
    // Last, so that they end first: nothing calls back into a window being destroyed.
    TSubscription m_statusWatch;
    TSubscription m_encryptionWatch;
};
