#pragma once

#include <QHash>
#include <QString>

// When a watched device's level deserves a warning: once when it falls to
// 20 % or below, once more at 10 % or below, and again only after a recharge
// above 30 %. A level already low when the device is first seen counts as a
// fall. Which devices are watched is the caller's choice.
class LowBatteryWatch
{
public:
    enum class Warning { None, Low, Critical };

    static constexpr int kLowMark = 20;
    static constexpr int kCriticalMark = 10;
    static constexpr int kRechargedAbove = 30;

    // A new level of a device; a level that went away (-1) changes nothing.
    Warning levelChanged(const QString &deviceId, int level);

    // The device is no longer watched: a low level warns anew once it is.
    void forget(const QString &deviceId);

    // The devices warned about since their last recharge.
    QList<QString> devices() const { return m_given.keys(); }

private:
    QHash<QString, Warning> m_given; // the strongest warning since the last recharge
};
