#pragma once
// The external-linking connector: the component that takes a symbol from the
// alert windows, acts on it and reports whether a link is set up. The
// external linking window hosts one connector and talks to it only through
// TConnector, so a Windows build can put the real connector control behind
// the same contract.
//
// The built-in connector shows its own set-up inside the window and offers
// two links: copy the symbol to the clipboard, or start a program the user
// names with the symbol as its only argument. The program is started
// directly, never through a shell, only with what a ticker symbol is made
// of, and at most a few times a second; the clipboard takes any printable
// symbol of up to MaxSymbolChars.
#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <functional>
#include <stdexcept>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TSettingsStore;
class TSymbolLinks;

// A failure the connector reports; the caller of LinkSymbol sees it.
class EConnectorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TConnector {
public:
    virtual ~TConnector() = default;
    // The symbol to link.
    virtual void SetSymbol(const QString& symbol) = 0;
    // Acts on the symbol last set; raises EConnectorError on failure.
    virtual void ApplySymbol() = 0;
    // 0 while no link is set up.
    virtual qint32 LinkState() const = 0;
    // The connector's own user interface, or null when it has none.
    virtual QWidget* View() = 0;
};

// The longest symbol handed to another program or to the clipboard.
inline constexpr qsizetype MaxSymbolChars = 32;

// Empty when the symbol may be handed to another program as its argument,
// otherwise the reason it may not. Allowed: ASCII letters and digits and
// . / ^ $ = _ -, at most MaxSymbolChars of them, not starting with
// "-", "+" or "@" (an option or a file of options to many programs),
// without "..", and with at most one "/": leading, as in a futures symbol,
// or between two parts, neither of which starts with ".".
QString ProgramSymbolProblem(const QString& symbol);
// Empty when the symbol may go to the clipboard: printable text of at most
// MaxSymbolChars.
QString ClipboardSymbolProblem(const QString& symbol);

class TBuiltInConnector : public QWidget, public TConnector {
    Q_OBJECT
public:
    enum TLinkMode : quint8 { NoLink = 0, CopyToClipboard = 1, StartProgram = 2 };

    // A program start nobody waits for reports its failure to `links`, which
    // outlives the connector.
    explicit TBuiltInConnector(TSymbolLinks& links, QWidget* parent = nullptr);

    void SetSymbol(const QString& symbol) override;
    void ApplySymbol() override;
    qint32 LinkState() const override;
    QWidget* View() override { return this; }

    TLinkMode Mode() const { return m_mode; }
    QString Program() const;
    void SetMode(TLinkMode mode);
    void SetProgram(const QString& program);

    // Starts the program with the arguments, without a shell; returns whether
    // it started. Tests replace it to see exactly what would be started.
    using TProgramStarter = std::function<bool(const QString& program, const QStringList& arguments)>;
    TProgramStarter ProgramStarter;
    // Asks the user for a program file; empty when cancelled. Replaceable in tests.
    std::function<QString(QWidget* parent, const QString& current)> ProgramChooser;

    // Where the set-up is kept in the per-user settings.
    static constexpr char SettingsSection[] = "Linking";
    // Programs start at most this often: a quicker run of picks starts the
    // last one when its turn comes, and those in between are dropped.
    static constexpr int MinMsBetweenStarts = 334;

private:
    void BuildView();
    void LoadSetup();
    void SaveSetup() const;
    void ShowSetupState();
    void BrowseButtonClick();
    void ModeButtonClick(int id);
    void ProgramEditChanged();
    void ShowOutcome(const QString& text);
    void CopySymbol();
    void StartProgramWithSymbol();
    void StartProgramFor(const QString& symbol);
    void StartWaitingProgram();

    TSymbolLinks& m_links;
    TLinkMode m_mode = NoLink;
    QString m_symbol;
    QButtonGroup* m_modeGroup = nullptr;
    QLineEdit* m_programEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QLabel* m_outcomeLabel = nullptr;
    QElapsedTimer m_sinceStart;
    QTimer* m_turnTimer = nullptr;
    QString m_waitingSymbol;
};
