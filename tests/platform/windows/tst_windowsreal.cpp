#include "platform/windows/windowsbluetooth.h"

#include <QtTest>

using platform::PlatformError;

// The system's own calls, where they have no Bluetooth to reach (Wine):
// they must fail in the ways the program copes with, and never end it.
class TestWindowsReal : public QObject
{
    Q_OBJECT

private slots:
    void noRadioIsBluetoothOff()
    {
        platform::windows::WindowsBluetooth bluetooth;
        for (int pass = 0; pass < 2; ++pass) {
            try {
                bluetooth.pairedDevices();
                QFAIL("this system should have no Bluetooth radio");
            } catch (const PlatformError &e) {
                QCOMPARE(e.code(), platform::kDeviceNotAvailable);
            }
        }
    }

    void noBluetoothSocketInWords()
    {
        platform::windows::WindowsBluetooth bluetooth;
        const auto socket = bluetooth.createStreamSocket();
        try {
            socket->connect("(e8:ab:fa:12:34:56)", "{0000111e-0000-1000-8000-00805f9b34fb}",
                            platform::ProtectionLevel::BluetoothEncryptionAllowNullAuthentication);
            QFAIL("an RFCOMM socket opened without Bluetooth");
        } catch (const PlatformError &e) {
            // HRESULT_FROM_WIN32 of WSAEAFNOSUPPORT, or of WSAEPROTONOSUPPORT,
            // which is Wine 8's answer when the protocol is BTHPROTO_RFCOMM.
            const quint32 code = quint32(e.code());
            QVERIFY2(code == 0x8007273Fu || code == 0x8007273Bu, qPrintable(QString::number(code, 16)));
            QVERIFY(!e.message().isEmpty());
            qInfo().noquote() << "Windows says:" << e.message();
        }
        socket->abort(); // on a socket that never opened
        QCOMPARE(socket->load(16), 0u);
    }
};

QTEST_GUILESS_MAIN(TestWindowsReal)
#include "tst_windowsreal.moc"
