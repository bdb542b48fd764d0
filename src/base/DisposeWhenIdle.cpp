#include "base/DisposeWhenIdle.h"
#include <QTimer>

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

// The last handler may still be inside the event code of the object that
// called it (a socket's signal, a wake-up's event), so what waits goes on a
// later turn of the loop. An event that is never delivered (the application
// ends first) still frees it when Qt drops the event.
void TDisposeWhenIdle::TCore::PostDisposal()
{
    if (DisposalPosted)
        return;
    DisposalPosted = true;
    std::shared_ptr<TCore> core = Self ? std::move(Self) : shared_from_this();
    QTimer::singleShot(0, [core] {
        core->DisposalPosted = false;
        if (core->Depth > 0) {
            // A handler came in again: the next one to leave posts again.
            if (core->OwnerGone)
                core->Self = core;
            return;
        }
        core->DisposeIfIdle();
    });
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
