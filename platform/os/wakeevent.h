#pragma once

#include "sockets.h"

namespace platform::os {

// Something that one thread signals and another waits on beside a socket
// (waitReady's wake handle): the two ends of a socket pair, so the same wait
// serves every system. signal() may come from any thread, any number of
// times; drain() takes back what was signalled.
class WakeEvent
{
public:
    WakeEvent();
    ~WakeEvent();

    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;

    bool isValid() const { return m_ends[0] != kNoHandle; }
    Handle handle() const { return m_ends[0]; }
    void signal() const;
    void drain() const;

private:
    Handle m_ends[2] = {kNoHandle, kNoHandle}; // [0] waited on, [1] written
};

} // namespace platform::os
