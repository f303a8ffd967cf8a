#include "local_wait.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

namespace quesmer::detail {

WaitEnd waitUntil(QObject* owner, const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return WaitEnd::Done;
    QEventLoop loop;
    WaitEnd end = WaitEnd::TimedOut;
    // A handler may destroy the owner: only this flag may be looked at then.
    if (owner) {
        QObject::connect(owner, &QObject::destroyed, &loop, [&] {
            end = WaitEnd::OwnerDestroyed;
            loop.quit();
        });
    }
    // The condition changes only while events are handled: look at it each
    // time the loop has handled what was pending, before it sleeps.
    auto check = [&] {
        if (end == WaitEnd::TimedOut && done()) {
            end = WaitEnd::Done;
            loop.quit();
        }
    };
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, check);
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, &loop, check);
    }
    QTimer timeout;
    if (timeoutMs >= 0) {
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
            if (end == WaitEnd::TimedOut)
                loop.quit();
        });
        timeout.start(timeoutMs);
    }
    loop.exec();
    return end;
}

bool pauseFor(QObject* owner, int ms)
{
    return waitUntil(owner, [] { return false; }, ms) != WaitEnd::OwnerDestroyed;
}

bool outlives(QObject* owner, const std::function<void()>& pause)
{
    bool destroyed = false;
    const QMetaObject::Connection watch =
        QObject::connect(owner, &QObject::destroyed, [&destroyed] { destroyed = true; });
    pause();
    if (!destroyed)
        QObject::disconnect(watch);
    return !destroyed;
}

}  // namespace quesmer::detail
