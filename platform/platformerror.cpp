#include "platformerror.h"

namespace platform {

PlatformError::PlatformError(qint32 code, QString message)
    : m_code(code), m_message(std::move(message)), m_utf8(m_message.toUtf8())
{
}

} // namespace platform
