// A console stop (Ctrl+C, Ctrl+Break, the console window closed) meeting a write under way.
// Windows ends the tool as soon as the console's handlers return, wherever it is, and a closing
// console at most five seconds after the close: so the handler asks the write to stop at the next
// point where the board runs nothing, and waits until the write's outcome has been said.
// Platform-neutral: the handler is a thin shell around stopWriteAndWait.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "board_setup/stk500.h"

struct WriteStop {
    std::atomic<bool> asked{false};
    std::mutex lock;
    std::condition_variable ended;
    bool underWay = false;
};

// How long a stop waits for the write's outcome: longer than the longest step the write may be in
// (its next point where the board runs nothing is at most one page's command and answer away, and a
// reconnect looks for a stop before each reset of the board, one try of about 1.8 s apart), and
// within the five seconds Windows gives a closing console.
inline constexpr std::chrono::milliseconds stopWaitLimit{4500};
static_assert(stopWaitLimit.count() > stk500::longestStepMs && stopWaitLimit.count() < 5000);

// From the first page written: a stop waits for this write from now on.
void beginWrite(WriteStop& stop);
// Whether a stop has been asked for since the write began.
bool stopAsked(const WriteStop& stop);
// The write's outcome has been said, however it ended: a waiting stop returns.
void endWrite(WriteStop& stop);

enum class StopWait {
    noWrite,  // nothing to wait for: no write under way
    ended,    // the write stopped, or finished, and said so
    waitedOut // still under way when the time was up: what the board runs is not known
};
// What the console handler does: asks the write under way to stop and waits, at most limit, until
// its outcome has been said.
StopWait stopWriteAndWait(WriteStop& stop, std::chrono::milliseconds limit);
