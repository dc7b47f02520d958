#include "rfcommsocket.h"
#include "../platformerror.h"

#include <QDebug>
#include <QUuid>

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::bluez {

void throwBluetoothErrno(int err)
{
    const QString system = QString::fromLocal8Bit(std::strerror(err));
    switch (err) {
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
        throw PlatformError(codeForErrno(err),
                            QStringLiteral("This system's kernel has no Bluetooth support (%1).").arg(system));
    case ECONNREFUSED:
    case EBUSY:
    case EADDRINUSE:
        throw PlatformError(codeForErrno(err),
                            QStringLiteral("The headset's hands-free channel is held by another program, "
                                           "probably the desktop's audio system (%1).").arg(system));
    default:
        throwErrno(err);
    }
}

namespace {

// Whether the kernel offers Bluetooth sockets at all. Without it the SDP
// library only reports "Invalid argument", which says nothing to a user.
bool kernelHasBluetooth()
{
    const int fd = ::socket(AF_BLUETOOTH, SOCK_SEQPACKET | SOCK_CLOEXEC, BTPROTO_L2CAP);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT;
}

bdaddr_t parseAddress(const QString &address)
{
    bdaddr_t out{};
    if (str2ba(address.toLatin1().constData(), &out) != 0 || address.size() != 17)
        throw PlatformError(codeForErrno(EINVAL), QStringLiteral("Not a Bluetooth address: %1").arg(address));
    return out;
}

// Whether a record is the service itself: its service class list names the
// UUID. A search also matches records that only mention it, such as an
// audio gateway's record, whose profile descriptor list names hands-free.
bool isServiceRecord(const sdp_record_t *record, const uuid_t &wanted)
{
    sdp_list_t *classes = nullptr;
    if (sdp_get_service_classes(record, &classes) != 0)
        return false;
    bool found = false;
    for (sdp_list_t *c = classes; c && !found; c = c->next)
        found = sdp_uuid_cmp(c->data, &wanted) == 0;
    sdp_list_free(classes, std::free);
    return found;
}

// The outcome of one asynchronous search: the records of its reply.
struct SearchReply
{
    bool done = false;
    bool ok = false;
    sdp_list_t *records = nullptr;

    ~SearchReply() { sdp_list_free(records, reinterpret_cast<sdp_free_func_t>(sdp_record_free)); }

    // Called by sdp_process once the whole (reassembled) reply is in.
    static void completed(uint8_t type, uint16_t status, uint8_t *rsp, size_t size, void *data)
    {
        auto *reply = static_cast<SearchReply *>(data);
        reply->done = true;
        reply->ok = status == 0 && type == SDP_SVC_SEARCH_ATTR_RSP;
        if (!reply->ok || !rsp)
            return;
        // A sequence of attribute lists, one per record.
        uint8_t dataType = 0;
        int length = 0;
        int left = int(size);
        const int header = sdp_extract_seqtype(rsp, left, &dataType, &length);
        if (header <= 0)
            return;
        rsp += header;
        left -= header;
        while (left > 0) {
            int used = 0;
            sdp_record_t *record = sdp_extract_pdu(rsp, left, &used);
            if (!record)
                break;
            if (used <= 0) {
                sdp_record_free(record);
                break;
            }
            reply->records = sdp_list_append(reply->records, record);
            rsp += used;
            left -= used;
        }
    }
};

} // namespace

int RfcommSocket::resolveChannel(const QString &address, const QString &serviceUuid)
{
    const QUuid id(serviceUuid);
    if (id.isNull())
        throw PlatformError(codeForErrno(EINVAL), QStringLiteral("Not a service UUID: %1").arg(serviceUuid));
    bdaddr_t any{};
    const bdaddr_t target = parseAddress(address);
    qDebug() << "RfcommSocket: SDP search on" << address << "for" << serviceUuid;
    // Non-blocking, so that abort() can end the connect. The SDP library
    // refuses SDP_RETRY_IF_BUSY together with it ("Invalid argument").
    sdp_session_t *session = sdp_connect(&any, &target, SDP_NON_BLOCKING);
    if (!session) {
        const int err = errno;
        throwBluetoothErrno(kernelHasBluetooth() ? err : EAFNOSUPPORT);
    }
    struct Closer {
        sdp_session_t *s;
        ~Closer() { sdp_close(s); }
    } closer{session};
    // Connecting: abort() ends the wait.
    if (!waitFor(sdp_get_socket(session), POLLOUT))
        throw PlatformError(kOperationAborted, QStringLiteral("The connection attempt was cancelled."));
    int soError = 0;
    socklen_t len = sizeof soError;
    getsockopt(sdp_get_socket(session), SOL_SOCKET, SO_ERROR, &soError, &len);
    if (soError)
        throwBluetoothErrno(soError);

    const QByteArray raw = id.toRfc4122();
    uuid_t uuid;
    sdp_uuid128_create(&uuid, raw.constData());
    sdp_list_t *search = sdp_list_append(nullptr, &uuid);
    uint32_t range = 0x0000ffff;
    sdp_list_t *attributes = sdp_list_append(nullptr, &range);
    // Asked and answered piece by piece, so that abort() ends the wait for
    // a headset that is slow to answer; the library's own blocking search
    // would wait up to its 20 s for each piece.
    SearchReply reply;
    int status = sdp_set_notify(session, &SearchReply::completed, &reply);
    if (status == 0)
        status = sdp_service_search_attr_async(session, search, SDP_ATTR_REQ_RANGE, attributes);
    int searchErrno = errno;
    sdp_list_free(search, nullptr);
    sdp_list_free(attributes, nullptr);
    if (status != 0)
        throwBluetoothErrno(searchErrno ? searchErrno : EIO);
    const QDeadlineTimer deadline(kSearchTimeoutMs);
    while (!reply.done) {
        if (!waitFor(sdp_get_socket(session), POLLIN, deadline))
            throw PlatformError(kOperationAborted, QStringLiteral("The connection attempt was cancelled."));
        errno = 0;
        if (sdp_process(session) != 0 && !reply.done)
            throwBluetoothErrno(errno ? errno : EIO);
    }
    if (!reply.ok)
        throwBluetoothErrno(EIO);

    int channel = -1;
    for (sdp_list_t *r = reply.records; r && channel < 0; r = r->next) {
        auto *record = static_cast<sdp_record_t *>(r->data);
        sdp_list_t *protocols = nullptr;
        if (isServiceRecord(record, uuid) && sdp_get_access_protos(record, &protocols) == 0) {
            channel = sdp_get_proto_port(protocols, RFCOMM_UUID);
            for (sdp_list_t *p = protocols; p; p = p->next)
                sdp_list_free(static_cast<sdp_list_t *>(p->data), nullptr);
            sdp_list_free(protocols, nullptr);
        }
    }
    if (channel <= 0)
        throw PlatformError(codeForErrno(ENOENT),
                            QStringLiteral("The device offers no RFCOMM channel for service %1.").arg(serviceUuid));
    return channel;
}

void RfcommSocket::connect(const QString &hostName, const QString &serviceName, ProtectionLevel level)
{
    bool numeric = false;
    const int given = serviceName.toInt(&numeric);
    const bdaddr_t target = parseAddress(hostName);
    const int channel = numeric ? given : resolveChannel(hostName, serviceName);
    if (channel < 1 || channel > 30)
        throw PlatformError(codeForErrno(EINVAL), QStringLiteral("Not an RFCOMM channel: %1").arg(channel));

    const int fd = ::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_RFCOMM);
    if (fd < 0)
        throwBluetoothErrno(errno);
    adopt(fd);
    if (level == ProtectionLevel::BluetoothEncryptionAllowNullAuthentication) {
        bt_security security{};
        security.level = BT_SECURITY_MEDIUM;
        ::setsockopt(fd, SOL_BLUETOOTH, BT_SECURITY, &security, sizeof security);
    }
    qDebug() << "RfcommSocket: RFCOMM connect to" << hostName << "channel" << channel;
    sockaddr_rc address{};
    address.rc_family = AF_BLUETOOTH;
    address.rc_bdaddr = target;
    address.rc_channel = uint8_t(channel);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return;
    if (errno != EINPROGRESS)
        throwBluetoothErrno(errno);
    if (!waitFor(fd, POLLOUT))
        throw PlatformError(kOperationAborted, QStringLiteral("The connection attempt was cancelled."));
    int soError = 0;
    socklen_t len = sizeof soError;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
    if (soError)
        throwBluetoothErrno(soError);
}

} // namespace platform::bluez
