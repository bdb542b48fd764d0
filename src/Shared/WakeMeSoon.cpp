#include "Shared/WakeMeSoon.h"
#include "base/GuardedCall.h"
#include <QCoreApplication>
#include <QEvent>

// The hidden receiver of the posted wake-up event. Destroying it removes any
// event still queued for it, so a pending wake-up of a destroyed owner is
// never delivered.
class TWakeMeSoon::Receiver : public QObject {
public:
    explicit Receiver(TWakeMeSoon* owner) : m_owner(owner) {}
    bool event(QEvent* e) override
    {
        if (e->type() == WakeUpEventType) {
            m_owner->WndPrc();
            return true;
        }
        return QObject::event(e);
    }

private:
    TWakeMeSoon* m_owner;
};

TWakeMeSoon::TWakeMeSoon() : m_receiver(std::make_unique<Receiver>(this)) {}

TWakeMeSoon::~TWakeMeSoon() = default;

void TWakeMeSoon::RequestWakeUp()
{
    if (m_pending)
        return;
    m_pending = true;
    QCoreApplication::postEvent(m_receiver.get(), new QEvent(static_cast<QEvent::Type>(WakeUpEventType)));
}

void TWakeMeSoon::WndPrc()
{
    m_pending = false;
    if (OnWakeUp)
        GuardedCall(QStringLiteral("WakeMeSoon, TWakeMeSoon.WndPrc"), OnWakeUp);
}
