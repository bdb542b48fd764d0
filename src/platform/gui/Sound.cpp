#include "platform/gui/Sound.h"
#include "base/DebugLog.h"
#include <QApplication>
#include <QEventLoop>
#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace {

// Runs a local event loop until the condition holds or the time is up.
// The condition is re-checked whenever one of the effect's signals fires.
template <typename Condition>
void WaitWhile(QSoundEffect& effect, Condition stillWaiting, int timeoutMs)
{
    if (!stillWaiting())
        return;
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [&] {
        if (!stillWaiting())
            loop.quit();
    };
    QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, check);
    QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, check);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    guard.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

void TSoundPlayer::PlayWaveOrBeep(const QString& fileName)
{
    if (fileName.isEmpty()) {
        DefaultBeep();
        return;
    }
    QString problem;
    if (PlayWaveSync(fileName, problem)) {
        m_reportedProblem.clear();
        return;
    }
    const QString report = QStringLiteral("Price-spike sound: \"%1\" cannot be played (%2); the default beep sounds instead.")
                               .arg(fileName, problem);
    if (report != m_reportedProblem) {
        m_reportedProblem = report;
        DebugOutput(report);
    }
    DefaultBeep();
}

bool TQtSoundPlayer::PlayWaveSync(const QString& fileName, QString& problem)
{
    // Without a file or an output device nothing can sound: return at once
    // rather than wait for a backend that will never start.
    if (!QFileInfo(fileName).isFile()) {
        problem = QStringLiteral("there is no such file");
        return false;
    }
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        problem = QStringLiteral("there is no audio output device");
        return false;
    }
    QSoundEffect effect;
    effect.setSource(QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath()));
    WaitWhile(effect, [&] {
        const auto status = effect.status();
        return status == QSoundEffect::Loading || status == QSoundEffect::Null;
    }, LoadTimeoutMs);
    if (effect.status() != QSoundEffect::Ready) {
        problem = effect.status() == QSoundEffect::Error ? QStringLiteral("it is not a wave sound that can be read")
                                                         : QStringLiteral("it did not load in time");
        return false;
    }
    bool started = false;
    auto noteStart = [&] {
        if (effect.isPlaying())
            started = true;
        return effect.status() != QSoundEffect::Error;
    };
    effect.play();
    // The backend may report playing only on a later turn of the loop; a
    // short sound may start and end before we look again, so the start is
    // noted whenever the effect reports.
    WaitWhile(effect, [&] { return noteStart() && !started; }, LoadTimeoutMs);
    if (!started) {
        problem = QStringLiteral("the audio output did not start it");
        return false;
    }
    WaitWhile(effect, [&] { return noteStart() && effect.isPlaying(); }, PlayTimeoutMs);
    return true;
}

void TQtSoundPlayer::DefaultBeep() { QApplication::beep(); }
