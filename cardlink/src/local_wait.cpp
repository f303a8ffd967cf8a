#include "local_wait.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

namespace quesmer::detail {

namespace {

// Pauses of card controls running on this thread, and how many have ended.
thread_local int pausesRunning = 0;
thread_local quint64 pausesEnded = 0;

}  // namespace

void controlPauseBegins() { ++pausesRunning; }

void controlPauseEnds()
{
    --pausesRunning;
    ++pausesEnded;
}

namespace {

WaitEnd runLoop(QObject* owner, const std::function<bool()>& done, int timeoutMs)
{
    if (done()) return WaitEnd::Done;
    QEventLoop loop;
    WaitEnd end = WaitEnd::TimedOut;
    bool due = false;        // the condition held or the time ran out
    quint64 endedAtDue = 0;  // pausesEnded at that moment
    bool destroyed = false;
    // A handler may destroy the owner: only this flag may be looked at then.
    if (owner) {
        QObject::connect(owner, &QObject::destroyed, &loop, [&] {
            destroyed = true;
            end = WaitEnd::OwnerDestroyed;
            loop.quit();
        });
    }
    auto finish = [&] {
        if (pausesRunning == 0 || pausesEnded > endedAtDue) loop.quit();
    };
    auto becomeDue = [&](WaitEnd why) {
        due = true;
        end = why;
        endedAtDue = pausesEnded;
        finish();
    };
    // The condition changes only while events are handled: look at it each
    // time the loop has handled what was pending, before it sleeps.
    auto check = [&] {
        if (destroyed) return;
        if (due)
            finish();
        else if (done())
            becomeDue(WaitEnd::Done);
    };
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, check);
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, &loop, check);
    }
    QTimer timeout;
    if (timeoutMs >= 0) {
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
            if (!destroyed && !due) becomeDue(WaitEnd::TimedOut);
        });
        timeout.start(timeoutMs);
    }
    loop.exec();
    return end;
}

}  // namespace

WaitEnd waitUntil(QObject* owner, const std::function<bool()>& done, int timeoutMs)
{
    return runLoop(owner, done, timeoutMs);
}

bool pauseFor(QObject* owner, int ms)
{
    return waitUntil(
               owner, [] { return false; }, ms) != WaitEnd::OwnerDestroyed;
}

bool letControlPausesEnd(QObject* owner)
{
    // Due at once: the wait then ends when the pause running now is over.
    return pausesRunning == 0 || waitUntil(
                                     owner, [] { return false; }, 0) != WaitEnd::OwnerDestroyed;
}

bool outlives(QObject* owner, const std::function<void()>& pause)
{
    bool destroyed = false;
    const QMetaObject::Connection watch =
        QObject::connect(owner, &QObject::destroyed, [&destroyed] { destroyed = true; });
    pause();
    if (!destroyed) QObject::disconnect(watch);
    return !destroyed;
}

}  // namespace quesmer::detail
