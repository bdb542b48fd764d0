#include "base/DisposeWhenIdle.h"
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>

TDisposeWhenIdle::TDisposeWhenIdle() : m_core(std::make_shared<TCore>()) {}

TDisposeWhenIdle::~TDisposeWhenIdle()
{
    m_core->OwnerGone = true;
    if (m_core->Depth > 0)
        m_core->Self = m_core;
    else
        m_core->DisposeIfIdle();
}

void TDisposeWhenIdle::Keep(std::shared_ptr<void> object)
{
    m_core->Kept.push_back(std::move(object));
    if (m_core->Depth == 0)
        m_core->DisposeIfIdle();
}

// The cores whose disposal waits for the loop. The posted call holds only a
// weak reference: Qt drops a call it never delivered under its posted-event
// lock, inside the application's destructor, and an object destroyed there
// that takes that lock itself (any QObject with events queued) would wait for
// ever. What still waits when the loop stops goes on the way out instead.
std::vector<std::shared_ptr<TDisposeWhenIdle::TCore>>& TDisposeWhenIdle::TCore::Posted()
{
    static std::vector<std::shared_ptr<TCore>> posted;
    return posted;
}

// The last handler may still be inside the event code of the object that
// called it (a socket's signal, a wake-up's event), so what waits goes on a
// later turn of the loop.
void TDisposeWhenIdle::TCore::PostDisposal()
{
    if (DisposalPosted)
        return;
    DisposalPosted = true;
    Posted().push_back(Self ? std::move(Self) : shared_from_this());
    DisposeOnTheWayOut();
    QTimer::singleShot(0, [weak = weak_from_this()] {
        if (const std::shared_ptr<TCore> core = weak.lock())
            core->Delivered();
    });
}

void TDisposeWhenIdle::TCore::Delivered()
{
    auto& posted = Posted();
    const auto entry = std::find_if(posted.begin(), posted.end(), [this](const auto& core) { return core.get() == this; });
    if (entry == posted.end())
        return; // already gone on the way out; this call was left in the queue
    const std::shared_ptr<TCore> keep = std::move(*entry);
    posted.erase(entry);
    DisposalPosted = false;
    if (Depth > 0) {
        // A handler came in again: the next one to leave posts again.
        if (OwnerGone)
            Self = keep;
        return;
    }
    // No handler runs, so nothing needs the count any more.
    Self.reset();
    DisposeIfIdle();
}

// Once per application: when its loop has stopped (aboutToQuit), and as a
// last resort in its destructor before the queued events are dropped, for a
// main that never ran the loop or handed something over after it.
void TDisposeWhenIdle::TCore::DisposeOnTheWayOut()
{
    static QPointer<QCoreApplication> watched;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || watched == application)
        return;
    watched = application;
    QObject::connect(application, &QCoreApplication::aboutToQuit, application, &DisposeAllPosted);
    qAddPostRoutine(&DisposeAllPosted);
}

void TDisposeWhenIdle::TCore::DisposeAllPosted()
{
    // Destroying one object may post the disposal of another.
    for (;;) {
        auto& posted = Posted();
        const auto idle = std::find_if(posted.begin(), posted.end(), [](const auto& core) { return core->Depth == 0; });
        if (idle == posted.end())
            return;
        (*idle)->Delivered();
    }
}

// Destroying one object may run handlers that hand over another; the loop
// picks those up too.
void TDisposeWhenIdle::TCore::DisposeIfIdle()
{
    while (Depth == 0 && !Kept.empty()) {
        auto batch = std::move(Kept);
        Kept.clear();
        batch.clear();
    }
}
