// Asking a write to stop from the console's handler thread, and waiting for it.
#include "board_setup/write_stop.h"

void beginWrite(WriteStop& stop) {
    const std::lock_guard<std::mutex> hold(stop.lock);
    stop.asked = false;
    stop.underWay = true;
}

bool stopAsked(const WriteStop& stop) {
    return stop.asked;
}

void endWrite(WriteStop& stop) {
    const std::lock_guard<std::mutex> hold(stop.lock);
    stop.underWay = false;
    stop.ended.notify_all();
}

StopWait stopWriteAndWait(WriteStop& stop, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(stop.lock);
    if (!stop.underWay) return StopWait::noWrite;
    stop.asked = true;
    return stop.ended.wait_for(hold, limit, [&] { return !stop.underWay; }) ? StopWait::ended
                                                                            : StopWait::waitedOut;
}
