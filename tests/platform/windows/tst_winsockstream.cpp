#include "fakewin32bluetooth.h"

#include "platform/windows/windowsbluetooth.h"

#include <QtTest>
#include <future>
#include <thread>

using platform::PlatformError;
using platform::ProtectionLevel;

namespace {

const QString kHost = "(e8:ab:fa:12:34:56)", kHandsFree = "{0000111e-0000-1000-8000-00805f9b34fb}";

// The headset's end: a loopback listener and the connection it accepts.
class Peer
{
public:
    Peer()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{AF_INET, 0, {}, {}};
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~Peer()
    {
        closesocket(m_accepted);
        closesocket(m_listener);
        WSACleanup();
    }
    void accept() { m_accepted = ::accept(m_listener, nullptr, nullptr); }
    void send(const QByteArray &bytes) { ::send(m_accepted, bytes.constData(), bytes.size(), 0); }
    QByteArray receive(int size)
    {
        QByteArray bytes(size, '\0');
        for (int n = 0, got = 0; got < size; got += n) {
            if ((n = ::recv(m_accepted, bytes.data() + got, size - got, 0)) <= 0)
                return bytes.left(got);
        }
        return bytes;
    }
    void end() { ::shutdown(m_accepted, SD_SEND); }
    void reset() // as a headset switched off mid-stream: the channel is gone, not ended
    {
        const linger hard{1, 0};
        setsockopt(m_accepted, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
        closesocket(m_accepted);
        m_accepted = INVALID_SOCKET;
    }

    quint16 port = 0;

private:
    SOCKET m_listener = INVALID_SOCKET;
    SOCKET m_accepted = INVALID_SOCKET;
};

} // namespace

class TestWinsockStream : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void connectsToTheServiceAndTalks();
    void brokenStreamIsASwitchedOffHeadset();
    void abortEndsEveryWait_data();
    void abortEndsEveryWait();
    void connectErrors_data();
    void connectErrors();

private:
    std::unique_ptr<platform::StreamSocket> connected()
    {
        auto socket = m_backend.createStreamSocket();
        socket->connect(kHost, kHandsFree, ProtectionLevel::BluetoothEncryptionAllowNullAuthentication);
        m_peer->accept();
        return socket;
    }

    std::shared_ptr<FakeWin32Bluetooth> m_system = std::make_shared<FakeWin32Bluetooth>();
    platform::windows::WindowsBluetooth m_backend{m_system};
    std::unique_ptr<Peer> m_peer;
};

void TestWinsockStream::init()
{
    *m_system = FakeWin32Bluetooth();
    m_peer = std::make_unique<Peer>();
    m_system->peerPort = m_peer->port;
}

void TestWinsockStream::connectsToTheServiceAndTalks()
{
    const auto socket = connected();
    QCOMPARE(m_system->target.addressFamily, USHORT(AF_BTH));
    QCOMPARE(m_system->target.btAddr, BTH_ADDR(0xe8abfa123456));
    QCOMPARE(QUuid(m_system->target.serviceClassId), QUuid(kHandsFree));
    QCOMPARE(m_system->target.port, ULONG(0)); // Windows asks the headset's SDP server

    m_peer->send("AT+BRSF=191\r");
    QCOMPARE(socket->load(1024), 12u);
    QCOMPARE(socket->readBytes(12), QByteArray("AT+BRSF=191\r"));
    socket->writeBytes("\r\n+BRSF: 0\r\n");
    socket->writeBytes("\r\nOK\r\n");
    QCOMPARE(socket->store(), 18u);
    QCOMPARE(m_peer->receive(18), QByteArray("\r\n+BRSF: 0\r\n\r\nOK\r\n"));

    m_peer->send("AT+BIEV=2,40\r");
    m_peer->end();
    QCOMPARE(socket->load(1024), 13u); // what came before the end is still read
    QCOMPARE(socket->load(1024), 0u);
}

void TestWinsockStream::brokenStreamIsASwitchedOffHeadset()
{
    const auto socket = connected();
    m_peer->reset();
    // A reply may still leave before the reset arrives; one after it fails.
    try {
        for (int attempt = 0; attempt < 50; ++attempt, QThread::msleep(20)) {
            socket->writeBytes("\r\nOK\r\n");
            socket->store();
        }
        QFAIL("replies went on into a reset channel");
    } catch (const PlatformError &e) {
        QCOMPARE(e.code(), platform::kOperationAborted);
        QVERIFY(!e.message().isEmpty());
    }
}

void TestWinsockStream::abortEndsEveryWait_data()
{
    QTest::addColumn<bool>("duringConnect");
    QTest::newRow("quiet headset") << false;
    QTest::newRow("connect that does not finish") << true;
}

void TestWinsockStream::abortEndsEveryWait()
{
    QFETCH(bool, duringConnect);
    m_system->connectPending = duringConnect;
    auto socket = duringConnect ? m_backend.createStreamSocket() : connected();
    auto outcome = std::make_shared<std::promise<qint32>>(); // the load's count, or the connect's code
    std::future<qint32> ended = outcome->get_future();
    std::thread blocked([outcome, duringConnect, s = socket.get()] {
        try {
            if (duringConnect)
                s->connect(kHost, kHandsFree, ProtectionLevel::PlainSocket);
            outcome->set_value(duringConnect ? 0 : qint32(s->load(1024)));
        } catch (const PlatformError &e) {
            outcome->set_value(e.code());
        }
    });
    QThread::msleep(300);
    QCOMPARE(ended.wait_for(std::chrono::seconds(0)), std::future_status::timeout); // it does block
    socket->abort();
    if (ended.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
        blocked.detach();
        socket.release(); // still in use by the stuck thread
        QFAIL("still blocked 1 s after abort()");
    }
    blocked.join();
    QCOMPARE(ended.get(), duringConnect ? platform::kOperationAborted : 0);
    QCOMPARE(socket->load(1024), 0u); // and every wait after it
}

void TestWinsockStream::connectErrors_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("connectError");
    QTest::addColumn<quint32>("code");
    QTest::newRow("no AF_BTH") << kHost << int(WSAEAFNOSUPPORT) << 0 << 0x8007273Fu;
    QTest::newRow("headset out of range") << kHost << 0 << int(WSAETIMEDOUT) << 0x8007274Cu;
    QTest::newRow("channel refused, later") << kHost << 0 << 0 << 0x8007274Du;
    QTest::newRow("not an address") << "headset" << 0 << 0 << 0x80070057u;
}

void TestWinsockStream::connectErrors()
{
    QFETCH(QString, host);
    QFETCH(int, openError);
    QFETCH(int, connectError);
    QFETCH(quint32, code);
    m_system->openError = openError;
    m_system->connectError = connectError;
    m_peer.reset(); // nothing listens: a connect that starts is refused through FD_CONNECT
    try {
        m_backend.createStreamSocket()->connect(host, kHandsFree, ProtectionLevel::PlainSocket);
        QFAIL("connect succeeded");
    } catch (const PlatformError &e) {
        QCOMPARE(quint32(e.code()), code);
        QVERIFY(!e.message().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestWinsockStream)
#include "tst_winsockstream.moc"
