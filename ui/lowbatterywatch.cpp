#include "lowbatterywatch.h"

LowBatteryWatch::Warning LowBatteryWatch::levelChanged(const QString &deviceId, int level)
{
    if (level < 0)
        return Warning::None;
    if (level > kRechargedAbove) {
        m_given.remove(deviceId);
        return Warning::None;
    }
    const Warning given = m_given.value(deviceId, Warning::None);
    Warning now = Warning::None;
    if (level <= kCriticalMark)
        now = Warning::Critical;
    else if (level <= kLowMark)
        now = Warning::Low;
    if (int(now) <= int(given))
        return Warning::None;
    m_given.insert(deviceId, now);
    return now;
}

void LowBatteryWatch::forget(const QString &deviceId)
{
    m_given.remove(deviceId);
}
