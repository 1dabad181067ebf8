// Keeping the History bounded: one level in at the back, at most one out at the front.
#include "fan/history.h"

void appendHistory(History& history, FanLevel level) {
    history.push_back(level);
    if (history.size() > historyCapacity) history.pop_front();
}
