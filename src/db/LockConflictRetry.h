#pragma once

#include "common/Errors.h"

#include <chrono>
#include <random>
#include <thread>

namespace ostrel {

// Server errors after which a transaction is simply run again: the server rolled it back to
// break a deadlock (1213), or one of its statements waited too long for a row lock (1205).
inline constexpr unsigned DeadlockError = 1213;
inline constexpr unsigned LockWaitTimeoutError = 1205;
// Tries in all before a deadlock is raised to the caller. On a Galera cluster every guard's block
// and release meets the others' at commit on the table's one change count, and the node refuses
// the later of two at once with a deadlock: with several guards hammering, a handful of refusals
// in a row is ordinary there.
inline constexpr int LockConflictAttempts = 12;
// A lock wait timeout has already waited the server's whole timeout: fewer tries for that.
inline constexpr int LockWaitAttempts = 4;

inline bool isLockConflict(const EDatabaseError& error) {
    return error.serverError() == DeadlockError || error.serverError() == LockWaitTimeoutError;
}

// Runs `work`, which must be one whole transaction (or one statement that commits by itself), and
// runs it again when the server ended it for a lock conflict; only the last failure is raised.
// `work` leaves nothing behind when it fails: the server rolled the transaction back, and the
// caller's SqlTransaction ends a statement's lock wait timeout with a rollback of its own.
template <typename Work> auto retryingLockConflicts(Work&& work) -> decltype(work()) {
    for (int attempt = 1;; ++attempt) {
        try {
            return work();
        } catch (const EDatabaseError& error) {
            if (!isLockConflict(error))
                throw;
            if (attempt >= (error.serverError() == DeadlockError ? LockConflictAttempts : LockWaitAttempts))
                throw;
        }
        // The other side of the conflict goes on meanwhile; a short pause, longer each time and
        // unlike the other guard's, keeps the two from meeting in the same step again.
        thread_local std::minstd_rand spread{std::random_device{}()};
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt + spread() % (10 * attempt)));
    }
}

} // namespace ostrel
