#pragma once
// Passwords in the freedesktop Secret Service (GNOME Keyring, KWallet,
// KeePassXC, ...) of the session bus, through QtKeychain: service "Tavisk
// Alerts", key "<user>@<server>". QtKeychain's fallback to a plain file is
// off: without a Secret Service nothing is kept anywhere.
#include "platform/core/PasswordKeyring.h"
#include <QObject>

namespace QKeychain {
class Job;
}

inline constexpr char KeyringService[] = "Tavisk Alerts";

class TSecretServiceKeyring : public QObject, public TPasswordKeyring {
    Q_OBJECT

public:
    void CheckAvailable(TKeyringCallback done) override;
    void Store(const QString& server, const QString& user, const QString& password, TKeyringCallback done) override;
    void Read(const QString& server, const QString& user, TKeyringCallback done) override;
    void Delete(const QString& server, const QString& user, TKeyringCallback done) override;

private:
    // Starts the job, owned by this object, and hands its answer to done.
    void Run(QKeychain::Job* job, const QString& server, const QString& user, const TKeyringCallback& done,
             const std::function<void(TKeyringAnswer&)>& read = {});
};
