#pragma once

#include <functional>
#include <memory>

// The end of the user's session ends the program as its exit button does:
// the event loop is asked to end, and the links and the registry are stopped
// and joined, so no channel stays held. On Linux that is SIGTERM at logout,
// and also SIGINT (Ctrl-C) and SIGHUP (a closed terminal); on Windows it is
// WM_ENDSESSION at logout and shutdown. Windows ends the process as soon as
// the program has answered that message, so there stop() runs before the
// answer, once, and the process then ends with status 0 at once. One
// instance, made after the application object, living as long as the event
// loop runs.
class SessionEnd
{
public:
    explicit SessionEnd(std::function<void()> stop);
    ~SessionEnd();

    SessionEnd(const SessionEnd &) = delete;
    SessionEnd &operator=(const SessionEnd &) = delete;

private:
    struct Watch;
    std::unique_ptr<Watch> m_watch;
};
