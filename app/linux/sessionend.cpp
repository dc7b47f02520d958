#include "../sessionend.h"
#include "../quitonsignals.h"

// The signals only end the event loop; the program stops its links after it.
struct SessionEnd::Watch
{
    QuitOnSignals quit;
};

SessionEnd::SessionEnd(std::function<void()>) : m_watch(std::make_unique<Watch>()) {}

SessionEnd::~SessionEnd() = default;
