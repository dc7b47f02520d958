#include "platform/bluez/rfcommsocket.h"
#include "platform/platformerror.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>

#include <bluetooth/sdp.h>

#include <optional>
#include <thread>

using platform::PlatformError;
using platform::bluez::RfcommSocket;

// The own channel's SDP search, against an SDP server of the test's own:
// the library reaches the local server's Unix socket for the address
// FF:FF:FF:00:00:00 exactly as it reaches a headset's over L2CAP.
class TestRfcommSocket : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void searchFindsTheHandsFreeChannel();
    void abortEndsASearchTheHeadsetDoesNotAnswer();

private:
    // Runs the search on a thread of its own, as a link does.
    void startSearch();
    // The search's request, once it has arrived.
    QByteArray takeRequest();

    std::unique_ptr<QLocalServer> m_server;
    QLocalSocket *m_peer = nullptr;
    std::unique_ptr<RfcommSocket> m_socket;
    std::thread m_search;
    std::optional<int> m_channel;
    std::optional<PlatformError> m_error;
};

namespace {
const QString kLocal = QStringLiteral("FF:FF:FF:00:00:00");
const QString kHandsFree = QStringLiteral("0000111e-0000-1000-8000-00805f9b34fb");

QByteArray sequence(const QByteArray &content)
{
    return QByteArray("\x35", 1) + char(content.size()) + content;
}
QByteArray attribute(quint16 id, const QByteArray &value)
{
    return QByteArray("\x09", 1) + char(id >> 8) + char(id & 0xff) + value;
}
QByteArray uuid16(quint16 uuid)
{
    return QByteArray("\x19", 1) + char(uuid >> 8) + char(uuid & 0xff);
}

// A ServiceSearchAttributeResponse with one hands-free unit record on
// 'channel', answering the request whose transaction is 'tid'.
QByteArray handsFreeReply(const QByteArray &tid, quint8 channel)
{
    const QByteArray record = sequence(
        attribute(0x0000, QByteArray("\x0a\x00\x01\x00\x01", 5))
        + attribute(0x0001, sequence(uuid16(0x111e) + uuid16(0x1203)))
        + attribute(0x0004, sequence(sequence(uuid16(0x0100)) + sequence(uuid16(0x0003) + '\x08' + char(channel)))));
    const QByteArray lists = sequence(record);
    const QByteArray parameters = QByteArray(1, char(lists.size() >> 8)) + char(lists.size() & 0xff) + lists + '\0';
    return QByteArray(1, char(SDP_SVC_SEARCH_ATTR_RSP)) + tid + char(parameters.size() >> 8)
        + char(parameters.size() & 0xff) + parameters;
}
} // namespace

void TestRfcommSocket::init()
{
    QLocalServer::removeServer(SDP_UNIX_PATH);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::WorldAccessOption);
    QVERIFY2(m_server->listen(SDP_UNIX_PATH), qPrintable(m_server->errorString() + " (run as root)"));
    m_socket = std::make_unique<RfcommSocket>();
    m_channel.reset();
    m_error.reset();
}

void TestRfcommSocket::cleanup()
{
    m_socket->abort();
    if (m_search.joinable())
        m_search.join();
    m_socket.reset();
    m_server.reset(); // removes the socket file
}

void TestRfcommSocket::startSearch()
{
    m_search = std::thread([this] {
        try {
            m_channel = m_socket->resolveChannel(kLocal, kHandsFree);
        } catch (const PlatformError &e) {
            m_error = e;
        }
    });
}

QByteArray TestRfcommSocket::takeRequest()
{
    if (!m_server->waitForNewConnection(5000))
        return {};
    m_peer = m_server->nextPendingConnection();
    while (m_peer->bytesAvailable() < 5 && m_peer->waitForReadyRead(5000)) {
    }
    return m_peer->readAll();
}

void TestRfcommSocket::searchFindsTheHandsFreeChannel()
{
    startSearch();
    const QByteArray request = takeRequest();
    QVERIFY(request.size() >= 5);
    QCOMPARE(quint8(request.at(0)), quint8(SDP_SVC_SEARCH_ATTR_REQ));
    m_peer->write(handsFreeReply(request.mid(1, 2), 7));
    QVERIFY(m_peer->waitForBytesWritten(5000));
    m_search.join();
    QVERIFY2(!m_error, m_error ? qPrintable(m_error->message()) : "");
    QCOMPARE(m_channel, std::optional<int>(7));
}

void TestRfcommSocket::abortEndsASearchTheHeadsetDoesNotAnswer()
{
    startSearch();
    QVERIFY(!takeRequest().isEmpty()); // asked, and never answered
    QElapsedTimer sinceAbort;
    sinceAbort.start();
    m_socket->abort(); // 监听 unticked, or the program exits
    m_search.join();
    QVERIFY2(sinceAbort.elapsed() < 1000, qPrintable(QString::number(sinceAbort.elapsed())));
    QVERIFY(!m_channel);
    QVERIFY(m_error);
    QCOMPARE(m_error->code(), platform::kOperationAborted);
}

QTEST_GUILESS_MAIN(TestRfcommSocket)
#include "tst_rfcommsocket.moc"
