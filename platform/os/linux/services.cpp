#include "../services.h"

namespace platform::os {

bool hasServiceControl()
{
    return false;
}

bool serviceIsMissing(const QString &)
{
    return false;
}

bool launchElevated(const QString &, const QString &, const QString &)
{
    return false;
}

} // namespace platform::os
