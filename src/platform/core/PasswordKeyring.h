#pragma once
// The trader's password kept in the system's keyring, one per server and
// user, never in a file. The shell uses this interface only, so that
// another system can put its own store behind it; on Linux it is the Secret
// Service (SecretServiceKeyring.h). Every call returns at once; the answer
// comes later through the event loop, to a callback that is not called once
// the keyring object is gone.
#include <QString>
#include <functional>
#include <memory>

struct TKeyringAnswer {
    QString Error;    // empty when the call did what it was asked
    bool Found = false; // Read: a password is stored
    QString Password; // Read: the password
};
using TKeyringCallback = std::function<void(const TKeyringAnswer& answer)>;

class TPasswordKeyring {
public:
    virtual ~TPasswordKeyring() = default;
    // Answers with Error empty when passwords can be kept, else why not, as a
    // sentence for the trader (the tooltip of the disabled box).
    virtual void CheckAvailable(TKeyringCallback done) = 0;
    virtual void Store(const QString& server, const QString& user, const QString& password, TKeyringCallback done) = 0;
    virtual void Read(const QString& server, const QString& user, TKeyringCallback done) = 0;
    // Deleting a password that is not there is no error.
    virtual void Delete(const QString& server, const QString& user, TKeyringCallback done) = 0;
};

std::unique_ptr<TPasswordKeyring> MakePasswordKeyring();
