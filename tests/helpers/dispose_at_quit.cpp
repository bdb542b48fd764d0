// A main whose event loop stops while a disposal still waits for it: an owner
// destroyed inside its handler hands over an object, an event for that object
// is queued behind, and the application is asked to quit. Prints "disposed" when the object goes
// and "loop ended" once exec has returned; a test runs it under a time limit.
#include "base/DebugLog.h"
#include "base/DisposeWhenIdle.h"
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    QCoreApplication app(argc, argv);
    QTimer::singleShot(0, &app, [] {
        auto owner = std::make_unique<TDisposeWhenIdle>();
        auto object = std::make_unique<QObject>();
        QObject* const handedOver = object.get();
        QObject::connect(handedOver, &QObject::destroyed, [] { std::puts("disposed"); });
        {
            // The owner goes from inside its own handler, as a conversation
            // does when its session is torn down.
            const TDisposeWhenIdle::THandlerScope handler(*owner);
            owner->Dispose(std::move(object));
            owner.reset();
        }
        // An event of its own queued behind its disposal: its destructor
        // takes the queue's lock to drop it.
        QCoreApplication::postEvent(handedOver, new QEvent(QEvent::User));
        QCoreApplication::quit();
    });
    const int code = QCoreApplication::exec();
    std::puts("loop ended");
    std::fflush(stdout);
    return code;
}
