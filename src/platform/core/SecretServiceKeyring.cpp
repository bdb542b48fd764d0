#include "platform/core/SecretServiceKeyring.h"
#include "base/GuardedCall.h"
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <qt6keychain/keychain.h>

namespace {

QString EntryKey(const QString& server, const QString& user) { return user + u'@' + server; }

QString Cannot(const QString& why)
{
    return QStringLiteral("The password cannot be remembered: %1.").arg(why);
}

void Answer(const TKeyringCallback& done, const TKeyringAnswer& answer)
{
    if (done)
        GuardedCall(QStringLiteral("TSecretServiceKeyring, answer"), [&] { done(answer); });
}

} // namespace

std::unique_ptr<TPasswordKeyring> MakePasswordKeyring() { return std::make_unique<TSecretServiceKeyring>(); }

// The service is asked directly (a ping, which also starts one the bus
// knows how to start): QtKeychain only learns of its absence when a job fails.
void TSecretServiceKeyring::CheckAvailable(TKeyringCallback done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Answer(done, {Cannot(QStringLiteral("there is no D-Bus session bus")), false, {}});
        return;
    }
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ping), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        Answer(done, {answered->isError() ? Cannot(QStringLiteral("no Secret Service (such as GNOME Keyring or "
                                                                  "KWallet) runs in this desktop session"))
                                          : QString(),
                      false, {}});
    });
}

void TSecretServiceKeyring::Run(QKeychain::Job* job, const QString& server, const QString& user,
                                const TKeyringCallback& done, const std::function<void(TKeyringAnswer&)>& read)
{
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(EntryKey(server, user));
    connect(job, &QKeychain::Job::finished, this, [done, read](QKeychain::Job* finished) {
        TKeyringAnswer answer;
        if (finished->error() == QKeychain::NoError && read)
            read(answer);
        else if (finished->error() != QKeychain::NoError && finished->error() != QKeychain::EntryNotFound)
            answer.Error = Cannot(finished->errorString());
        Answer(done, answer);
    });
    job->start();
}

void TSecretServiceKeyring::Store(const QString& server, const QString& user, const QString& password,
                                  TKeyringCallback done)
{
    auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(KeyringService), this);
    job->setTextData(password);
    Run(job, server, user, done);
}

void TSecretServiceKeyring::Read(const QString& server, const QString& user, TKeyringCallback done)
{
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(KeyringService), this);
    Run(job, server, user, done, [job](TKeyringAnswer& answer) {
        answer.Found = true;
        answer.Password = job->textData();
    });
}

void TSecretServiceKeyring::Delete(const QString& server, const QString& user, TKeyringCallback done)
{
    Run(new QKeychain::DeletePasswordJob(QString::fromLatin1(KeyringService), this), server, user, done);
}
