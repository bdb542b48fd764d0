#pragma once
// The window behind the process-wide diagnostic log. Every logged line shows
// it again, so an unexpected error caught and survived is never silent. Lines
// are batched for a quarter of a second so a burst costs one memo update.
#include "base/DebugLog.h"
#include <QString>
#include <QWidget>

class QPlainTextEdit;
class QTimer;

class TMiscDebugWindow : public QWidget {
public:
    explicit TMiscDebugWindow(QWidget* owner = nullptr);

    // Shows the window too, unless the line is only a note.
    void AddLine(const QString& text, bool show = true);

    QPlainTextEdit* const Memo1;
    QTimer* const Timer1;
    bool FlushPending() const { return m_flushPending; }
    const QString& PendingText() const { return m_pendingText; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Timer1Timer();

    bool m_flushPending = false;
    QString m_pendingText;
};

// Sends every DebugOutput line (and every note) to the window for as long as
// the returned scope lives, which must not outlive the window; main holds it.
TDebugSinkScope LogToWindow(TMiscDebugWindow& window);
