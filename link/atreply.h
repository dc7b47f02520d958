#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The audio gateway's answer to one command (or one read) from the headset.
struct AtReply
{
    QByteArray text;              // exact bytes to send back; never empty
    bool notice = false;          // the headset asked for noise reduction settings
    std::optional<int> battery;   // the level of a battery report, 0 to 100
    QString ignoredReport;        // why a battery report gave no level; empty otherwise
};
