// The AT responder on arbitrary reads: one well-formed reply for every text.
#include "link/atresponder.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray received(reinterpret_cast<const char *>(data), int(size));
    const AtReply reply = answerCommand(received);
    if (reply.text.isEmpty() || !reply.text.endsWith("\r\nOK\r\n") || !reply.text.startsWith("\r\n"))
        std::abort();
    if (reply.battery && !received.contains("AT+BIEV"))
        std::abort();
    if (reply.notice && !received.contains("AT+NREC"))
        std::abort();
    return 0;
}
