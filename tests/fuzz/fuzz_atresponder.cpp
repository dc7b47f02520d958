// The AT responder on arbitrary reads: one well-formed reply for every text,
// levels only from 0 to 100, and the commands of a read taken from it in order.
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
    if (reply.battery && (*reply.battery < 0 || *reply.battery > 100))
        std::abort();
    // The commands of a read are pieces of it, in order, none of them blank.
    const QVector<QByteArray> commands = splitCommands(received);
    if (commands.isEmpty())
        std::abort();
    if (commands.size() > 1) {
        int from = 0;
        for (const QByteArray &command : commands) {
            const int at = received.indexOf(command, from);
            if (command.trimmed().isEmpty() || at < 0)
                std::abort();
            from = at + command.size();
        }
    }
    return 0;
}
