#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that end a desktop session or a terminal run (SIGTERM at
// logout, SIGINT from Ctrl-C, SIGHUP when the terminal goes) into a normal
// quit of the event loop, so the program exits as after the exit button:
// links stopped and joined, status 0. The signal handler only writes a byte
// to a socket pair; the quit itself happens in the event loop. One instance,
// created after the application object; the handlers are restored when it is
// destroyed.
class QuitOnSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    ~QuitOnSignals() override;

private:
    void onSignal();

    QSocketNotifier *m_notifier = nullptr; // child of this object
};
