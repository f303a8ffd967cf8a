// The one place where the card control runs a local event loop.
//
// Only the methods whose contract is to block while events keep arriving
// (CardSearch, CardConnectByNumber, CardConnectBySerial) and the pauses of
// the start sequence wait here. Handlers of the events raised meanwhile may
// destroy the control; the wait notices that and ends at once, so its caller
// only has to look at the result.
#pragma once

#include <QObject>
#include <functional>

namespace quesmer::detail {

enum class WaitEnd {
    Done,            // the condition holds
    TimedOut,        // the time ran out first
    OwnerDestroyed,  // the owner is gone: the caller must return without touching it
};

// Runs a local event loop until `done` holds (looked at whenever the loop has
// handled what was pending), `timeoutMs` milliseconds have passed (negative:
// no limit) or `owner` is destroyed. `owner` may be null.
//
// A wait that is due to end while a pause of a card control is running (the
// flash of an extractor step, the pause after the server quit) ends right
// after that pause and the work that follows it: a step or a quit, once
// begun, is over before such a wait returns, so the time a card needs to
// answer counts into the start sequence's pauses.
[[nodiscard]] WaitEnd waitUntil(QObject* owner, const std::function<bool()>& done, int timeoutMs = -1);

// A card control's pause begins or ends; see waitUntil.
void controlPauseBegins();
void controlPauseEnds();

// Lets events run for `ms` milliseconds; false when `owner` was destroyed meanwhile.
[[nodiscard]] bool pauseFor(QObject* owner, int ms);

// Lets a card control's pause that is running now end, with the work that
// follows it; false when `owner` was destroyed meanwhile.
[[nodiscard]] bool letControlPausesEnd(QObject* owner);

// Runs `pause` (a wait supplied by a host) and tells whether `owner` outlived it.
[[nodiscard]] bool outlives(QObject* owner, const std::function<void()>& pause);

}  // namespace quesmer::detail
