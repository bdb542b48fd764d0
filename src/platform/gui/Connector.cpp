#include "platform/gui/Connector.h"
#include "platform/core/SettingsStore.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/SymbolLink.h"
#include <QButtonGroup>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace {

// What shows as itself: no control or format character, no line or
// paragraph break, nothing unassigned or private; a whole code point at a time.
bool IsPrintable(char32_t c)
{
    const auto category = QChar::category(c);
    return QChar::isPrint(c) && category != QChar::Separator_Line && category != QChar::Separator_Paragraph;
}

bool IsTickerCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
           QStringView(u"./^$=_-").contains(c);
}

// A futures symbol starts with "/" ("/ESZ4") and a share class may follow
// one ("BRK/B"); a symbol never holds two, nor, beside its "/", a part that
// names a hidden file or nothing, as "/home/u/.ssh/id_rsa", ".ssh/id_rsa" or
// "/" would. Without a "/" a leading dot stays allowed: index codes such as
// ".DJI" have one, and such a name reaches no file outside the folder.
bool LooksLikeAPath(const QString& symbol)
{
    const QStringList parts = symbol.split(u'/');
    if (parts.size() == 1)
        return false;
    return parts.size() > 2 || parts.constLast().isEmpty() || parts.constFirst().startsWith(u'.') ||
           parts.constLast().startsWith(u'.');
}

// The symbol as a message quotes it: never more than a line.
QString Quoted(const QString& symbol) { return QLatin1Char('"') + CutForDisplay(symbol, 40) + QLatin1Char('"'); }

bool StartDetached(const QString& program, const QStringList& arguments)
{
    // An argument list, not a command line: no shell ever sees the symbol.
    return QProcess::startDetached(program, arguments);
}

QString ChooseProgramFile(QWidget* parent, const QString& current)
{
    const QString start = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    return QFileDialog::getOpenFileName(parent, QObject::tr("Program to start with the symbol"), start);
}

} // namespace

QString ClipboardSymbolProblem(const QString& symbol)
{
    if (symbol.isEmpty())
        return QObject::tr("There is no symbol to link.");
    const QList<uint> codePoints = symbol.toUcs4();
    if (!std::all_of(codePoints.begin(), codePoints.end(), [](uint c) { return IsPrintable(c); }))
        return QObject::tr("The symbol was not linked: it contains characters that do not print.");
    if (symbol.size() > MaxSymbolChars)
        return QObject::tr("The symbol %1 was not linked: it is longer than %2 characters.")
            .arg(Quoted(symbol))
            .arg(MaxSymbolChars);
    return QString();
}

QString ProgramSymbolProblem(const QString& symbol)
{
    if (const QString problem = ClipboardSymbolProblem(symbol); !problem.isEmpty())
        return problem;
    if (symbol.front() == u'-' || symbol.front() == u'+' || symbol.front() == u'@')
        return QObject::tr("The symbol %1 was not linked: it starts with \"%2\" and could be taken for an option.")
            .arg(Quoted(symbol), QString(symbol.front()));
    if (const auto bad = std::find_if_not(symbol.begin(), symbol.end(), IsTickerCharacter); bad != symbol.end())
        return QObject::tr("The symbol %1 was not linked: \"%2\" is not a character of a ticker symbol.")
            .arg(Quoted(symbol), QString(*bad));
    if (symbol.contains(QLatin1String("..")) || LooksLikeAPath(symbol))
        return QObject::tr("The symbol %1 was not linked: it could be taken for a path.").arg(Quoted(symbol));
    return QString();
}

TBuiltInConnector::TBuiltInConnector(TSymbolLinks& links, QWidget* parent)
    : QWidget(parent), ProgramStarter(StartDetached), ProgramChooser(ChooseProgramFile), m_links(links)
{
    BuildView();
    LoadSetup();
    ShowSetupState();
    m_turnTimer = new QTimer(this);
    m_turnTimer->setSingleShot(true);
    connect(m_turnTimer, &QTimer::timeout, this, &TBuiltInConnector::StartWaitingProgram);
}

void TBuiltInConnector::BuildView()
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("When you click a symbol in an alert window:"), this));

    m_modeGroup = new QButtonGroup(this);
    auto addMode = [&](TLinkMode mode, const QString& caption) {
        auto* button = new QRadioButton(caption, this);
        button->setObjectName(QStringLiteral("LinkMode%1").arg(int(mode)));
        m_modeGroup->addButton(button, mode);
        layout->addWidget(button);
    };
    addMode(NoLink, tr("Do nothing (no link is set up)"));
    addMode(CopyToClipboard, tr("Copy the symbol to the clipboard"));
    addMode(StartProgram, tr("Start this program with the symbol as its argument:"));

    auto* programRow = new QHBoxLayout;
    m_programEdit = new QLineEdit(this);
    m_programEdit->setObjectName(QStringLiteral("ProgramEdit"));
    m_browseButton = new QPushButton(tr("Browse..."), this);
    programRow->addWidget(m_programEdit);
    programRow->addWidget(m_browseButton);
    layout->addLayout(programRow);

    m_outcomeLabel = new QLabel(this);
    m_outcomeLabel->setObjectName(QStringLiteral("OutcomeLabel"));
    m_outcomeLabel->setWordWrap(true);
    m_outcomeLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(m_outcomeLabel);
    layout->addStretch(1);

    connect(m_modeGroup, &QButtonGroup::idClicked, this, &TBuiltInConnector::ModeButtonClick);
    connect(m_programEdit, &QLineEdit::editingFinished, this, &TBuiltInConnector::ProgramEditChanged);
    connect(m_browseButton, &QPushButton::clicked, this, &TBuiltInConnector::BrowseButtonClick);
}

void TBuiltInConnector::LoadSetup()
{
    TSettingsStore store;
    const int mode = store.ReadInteger(SettingsSection, QStringLiteral("Mode"), NoLink);
    m_mode = (mode == CopyToClipboard || mode == StartProgram) ? TLinkMode(mode) : NoLink;
    m_programEdit->setText(store.ReadString(SettingsSection, QStringLiteral("Program"), QString()));
}

void TBuiltInConnector::SaveSetup() const
{
    TSettingsStore store;
    store.WriteInteger(SettingsSection, QStringLiteral("Mode"), m_mode);
    store.WriteString(SettingsSection, QStringLiteral("Program"), Program());
}

void TBuiltInConnector::ShowSetupState()
{
    if (auto* button = m_modeGroup->button(m_mode))
        button->setChecked(true);
    const bool programMode = m_mode == StartProgram;
    m_programEdit->setEnabled(programMode);
    m_browseButton->setEnabled(programMode);
}

QString TBuiltInConnector::Program() const { return m_programEdit->text().trimmed(); }

void TBuiltInConnector::SetMode(TLinkMode mode)
{
    m_mode = mode;
    ShowSetupState();
    SaveSetup();
}

void TBuiltInConnector::SetProgram(const QString& program)
{
    m_programEdit->setText(program);
    SaveSetup();
}

void TBuiltInConnector::ModeButtonClick(int id)
{
    SetMode(TLinkMode(id));
}

void TBuiltInConnector::ProgramEditChanged() { SaveSetup(); }

void TBuiltInConnector::BrowseButtonClick()
{
    const QString chosen = ProgramChooser ? ProgramChooser(this, Program()) : QString();
    if (!chosen.isEmpty())
        SetProgram(chosen);
}

void TBuiltInConnector::ShowOutcome(const QString& text) { m_outcomeLabel->setText(text); }

void TBuiltInConnector::SetSymbol(const QString& symbol) { m_symbol = symbol; }

qint32 TBuiltInConnector::LinkState() const
{
    switch (m_mode) {
    case CopyToClipboard:
        return 1;
    case StartProgram:
        return Program().isEmpty() ? 0 : 1;
    default:
        return 0;
    }
}

void TBuiltInConnector::ApplySymbol()
{
    if (LinkState() == 0) {
        ShowOutcome(tr("No link is set up yet: choose what a click on a symbol should do."));
        return;
    }
    const QString problem = m_mode == CopyToClipboard ? ClipboardSymbolProblem(m_symbol) : ProgramSymbolProblem(m_symbol);
    if (!problem.isEmpty()) {
        ShowOutcome(problem);
        throw EConnectorError(problem.toStdString());
    }
    if (m_mode == CopyToClipboard)
        CopySymbol();
    else
        StartProgramWithSymbol();
}

void TBuiltInConnector::CopySymbol()
{
    QGuiApplication::clipboard()->setText(m_symbol);
    ShowOutcome(tr("Copied %1 to the clipboard.").arg(Quoted(m_symbol)));
}

void TBuiltInConnector::StartProgramWithSymbol()
{
    // A held key or a burst of clicks must not start a program per row.
    const qint64 sinceLast = m_sinceStart.isValid() ? m_sinceStart.elapsed() : MinMsBetweenStarts;
    if (m_turnTimer->isActive() || sinceLast < MinMsBetweenStarts) {
        m_waitingSymbol = m_symbol;
        if (!m_turnTimer->isActive())
            m_turnTimer->start(int(MinMsBetweenStarts - sinceLast));
        ShowOutcome(tr("%1 waits its turn: programs are started at most three times a second.").arg(Quoted(m_symbol)));
        return;
    }
    StartProgramFor(m_symbol);
}

void TBuiltInConnector::StartProgramFor(const QString& symbol)
{
    const QString program = Program();
    m_sinceStart.start();
    if (!ProgramStarter || !ProgramStarter(program, {symbol})) {
        const QString problem = tr("The program \"%1\" could not be started for the symbol %2.").arg(program, symbol);
        ShowOutcome(problem);
        throw EConnectorError(problem.toStdString());
    }
    ShowOutcome(tr("Started %1 for %2.").arg(QFileInfo(program).fileName(), symbol));
}

void TBuiltInConnector::StartWaitingProgram()
{
    const QString symbol = std::exchange(m_waitingSymbol, QString());
    if (symbol.isEmpty() || m_mode != StartProgram || Program().isEmpty())
        return;
    // Nobody waits for this start: a failure is told as a failed link is.
    RunReportingErrors([&] { StartProgramFor(symbol); },
                       [this](const QString& message) { m_links.ReportFailure(message); }, QString());
}
