#include "wakeevent.h"

namespace platform::os {

WakeEvent::WakeEvent()
{
    if (!makeSocketPair(m_ends))
        m_ends[0] = m_ends[1] = kNoHandle;
}

WakeEvent::~WakeEvent()
{
    closeHandle(m_ends[0]);
    closeHandle(m_ends[1]);
}

void WakeEvent::signal() const
{
    // A full pair is signalled already.
    const char byte = 1;
    writeSome(m_ends[1], &byte, 1);
}

void WakeEvent::drain() const
{
    char bytes[64];
    while (readSome(m_ends[0], bytes, sizeof bytes) > 0) {
    }
}

} // namespace platform::os
