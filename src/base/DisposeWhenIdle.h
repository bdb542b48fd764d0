#pragma once
// The lifetime rule in one place: an object is never deleted while one of its
// own handlers runs. The owner counts its handlers as they enter and leave
// (THandlerScope) and hands over what must not go while one runs (Dispose).
// When nothing runs, that goes at once; otherwise it is only noted, and goes
// from the event loop once the last handler has left, and only if none has
// been entered again meanwhile.
//
// The count outlives the owner: a handler may destroy the object it belongs
// to, and the scope it entered still leaves safely. What the owner handed over
// then stays until that handler has returned.
//
// What still waits for the loop when it stops goes then (the application's
// aboutToQuit), or at the latest in the application's destructor before Qt
// drops its queued events: never while Qt holds its queue's lock.
#include <memory>
#include <utility>
#include <vector>

class TDisposeWhenIdle {
    struct TCore;

public:
    TDisposeWhenIdle();
    // What waits stays until the last handler has left; none running, it goes now.
    ~TDisposeWhenIdle();
    TDisposeWhenIdle(const TDisposeWhenIdle&) = delete;
    TDisposeWhenIdle& operator=(const TDisposeWhenIdle&) = delete;

    class THandlerScope;

    // The count alone, for a part that is itself handed to Dispose (an
    // object's hidden state) and so may outlive this helper: it stays valid
    // for as long as that part lives.
    class THandlerCount {
    public:
        explicit THandlerCount(const TDisposeWhenIdle& owner) : m_core(owner.m_core.get()) {}
        bool Running() const { return m_core->Depth > 0; }

    private:
        friend class THandlerScope;
        TCore* m_core;
    };

    // One of the owner's handlers is running for as long as this lives.
    class THandlerScope {
    public:
        explicit THandlerScope(const TDisposeWhenIdle& owner) : m_core(owner.m_core.get()) { ++m_core->Depth; }
        explicit THandlerScope(THandlerCount count) : m_core(count.m_core) { ++m_core->Depth; }
        ~THandlerScope() // NOLINT(bugprone-exception-escape): make_shared made the core: shared_from_this cannot throw
        {
            if (--m_core->Depth == 0 && m_core->Waiting())
                m_core->PostDisposal();
        }
        THandlerScope(const THandlerScope&) = delete;
        THandlerScope& operator=(const THandlerScope&) = delete;
        // The owner has been destroyed while this handler ran.
        bool OwnerGone() const { return m_core->OwnerGone; }

    private:
        TCore* m_core;
    };

    bool HandlerRunning() const { return m_core->Depth > 0; }

    // Destroys the object now when no handler runs, else when the last one
    // has left (see above).
    template <typename T>
    void Dispose(std::unique_ptr<T> object)
    {
        if (object)
            Keep(std::shared_ptr<void>(std::move(object)));
    }

private:
    // Held by the owner and while its disposal is posted; once the owner has gone
    // while a handler ran, by itself until that handler has left. The scopes
    // reach it by a plain pointer: entering a handler costs no more than a count.
    struct TCore : std::enable_shared_from_this<TCore> {
        int Depth = 0;
        bool OwnerGone = false;
        bool DisposalPosted = false;
        std::vector<std::shared_ptr<void>> Kept;
        std::shared_ptr<TCore> Self;
        bool Waiting() const { return !Kept.empty() || Self; }
        void PostDisposal();
        // The posted disposal has come, or the loop has stopped before it did.
        void Delivered();
        void DisposeIfIdle();
        // The cores whose disposal is posted; the posted call holds none.
        static std::vector<std::shared_ptr<TCore>>& Posted();
        static void DisposeOnTheWayOut();
        static void DisposeAllPosted();
    };

    void Keep(std::shared_ptr<void> object);

    std::shared_ptr<TCore> m_core;
};
