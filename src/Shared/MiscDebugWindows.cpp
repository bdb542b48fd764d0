#include "Shared/MiscDebugWindows.h"
#include "base/DebugLog.h"
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int FlushDelayMs = 250;
const QString LineBreak = QStringLiteral("\r\n");
}

TMiscDebugWindow::TMiscDebugWindow(QWidget* owner)
    : QWidget(owner, Qt::Window), Memo1(new QPlainTextEdit(this)), Timer1(new QTimer(this))
{
    setWindowTitle("Velmora Debug Window");
    move(192, 114);
    resize(1142, 656);

    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);

    Timer1->setInterval(FlushDelayMs);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TMiscDebugWindow::AddLine(const QString& text, bool show)
{
    if (!m_flushPending) {
        m_flushPending = true;
        Timer1->start();
    }
    if (m_pendingText.isEmpty())
        m_pendingText = text;
    else
        m_pendingText += LineBreak + text;
    // Shown without raising: a visible log keeps its place in the window order.
    if (show)
        setVisible(true);
}

void TMiscDebugWindow::Timer1Timer()
{
    m_flushPending = false;
    Timer1->stop();
    QString lines = m_pendingText;
    m_pendingText.clear();
    lines.replace(LineBreak, QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Memo1->appendPlainText(lines);
}

void TMiscDebugWindow::closeEvent(QCloseEvent* event)
{
    // Closing only puts the log away; the next line brings it back.
    setWindowState(windowState() | Qt::WindowMinimized);
    event->accept();
}

TDebugSinkScope LogToWindow(TMiscDebugWindow& window)
{
    // Notes wait in the log for whoever opens it; stderr has them already.
    return TDebugSinkScope([&window](const QString& line) { window.AddLine(line); },
                           [&window](const QString& line) { window.AddLine(line, false); });
}
