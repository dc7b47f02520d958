#include "bluetooth.h"

namespace platform {

QString uuidText(const QUuid &uuid)
{
    // QUuid::toString() gives the braced 8-4-4-4-12 form in lower case.
    return uuid.toString(QUuid::WithBraces);
}

} // namespace platform
