#pragma once

#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/types.h>

// A private D-Bus session bus for a test process: make it before Qt touches
// any bus, and DBUS_SESSION_BUS_ADDRESS points at it. It starts no services
// of its own, so nothing installed on the machine (a notification server,
// say) answers in place of the test's own peers.
class PrivateSessionBus
{
public:
    PrivateSessionBus()
    {
        QFile config(m_dir.filePath("bus.conf"));
        if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly))
            return;
        config.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                     "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        const std::string command = "dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" +
                                    config.fileName().toStdString();
        FILE *daemon = popen(command.c_str(), "r");
        char address[512] = {0}, pid[32] = {0};
        const bool started = daemon && fgets(address, sizeof address, daemon) && fgets(pid, sizeof pid, daemon);
        if (daemon)
            pclose(daemon);
        if (!started)
            return;
        std::string trimmed(address);
        trimmed.erase(trimmed.find_last_not_of("\r\n") + 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", trimmed.c_str(), 1);
        m_pid = pid_t(std::atoi(pid));
    }

    ~PrivateSessionBus() { stop(); }

    // Ends the bus, and with it every peer that lives only on it.
    void stop()
    {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
        m_pid = -1;
    }

    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    bool isRunning() const { return m_pid > 0; }

private:
    QTemporaryDir m_dir;
    pid_t m_pid = -1;
};
