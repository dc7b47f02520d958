#pragma once

#include <QByteArray>
#include <optional>

// The audio gateway's answer to one read from the headset.
struct AtReply
{
    QByteArray text;              // exact bytes to send back; never empty
    bool notice = false;          // the headset asked for noise reduction settings
    std::optional<int> battery;   // the level of a battery report
};
