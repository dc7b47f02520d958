#include "rfcbase.h"
#include "atresponder.h"

#include "../platform/bluetooth.h"
#include "../platform/datareader.h"
#include "../platform/threadcheck.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>

#include <mutex>

#include <cstdio>

using platform::PlatformError;

RFCBase::RFCBase(const QString &deviceId, const QString &hostName, const QString &serviceName,
                 platform::Bluetooth &bluetooth, QObject *parent)
    : QThread(parent),
      m_socket(bluetooth.createStreamSocket()),
      m_hostName(hostName),
      m_serviceName(serviceName),
      m_deviceId(deviceId)
{
}

// Runs only once the link's thread has finished.
RFCBase::~RFCBase()
{
    platform::markThreadJoined(this);
}

bool RFCBase::failureChanged(const QString &deviceId, const QString &message)
{
    static std::mutex mutex;
    static QHash<QString, QString> last; // the connect failure of each device's latest link
    std::unique_lock<std::mutex> lock(mutex);
    if (last.value(deviceId) == message)
        return false;
    if (message.isEmpty())
        last.remove(deviceId);
    else
        last.insert(deviceId, message);
    return true;
}

void RFCBase::stop()
{
    m_stopRequested.store(true);
    quit();
    m_socket->abort();
}

void RFCBase::run()
{
    bool connected = false;
    try {
        m_socket->connect(m_hostName, m_serviceName,
                          platform::ProtectionLevel::BluetoothEncryptionAllowNullAuthentication);
        connected = true;
    } catch (const PlatformError &e) {
        // A failure that repeats at every scan cycle is logged when it begins.
        if (failureChanged(m_deviceId, e.message())) {
            qCritical() << "hresult: " << e.code() << "\n";
            qCritical() << "message: " << e.message() << "\n";
        }
        // A connect that we cancelled ourselves is nothing to show on the row.
        if (!m_stopRequested.load())
            emit signal_error(m_deviceId, e.message());
        quit();
    }
    if (connected) {
        failureChanged(m_deviceId, QString()); // a later failure is news again
        platform::DataReader reader(*m_socket);
        platform::DataWriter writer(*m_socket);
        setWriter(&writer);
        bool more = read(&reader);
        while (more) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(200);
            more = read(&reader);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        setWriter(nullptr);
        m_socket->close(); // the headset's channel is free from here on
    }
    // From here on the link follows no level: the row and the tray say so.
    emit signal_streamEnded(m_deviceId);

    // Returns at once when a quit was asked for; otherwise waits for the owner.
    exec();
    platform::markThreadRunEnded(this);
}

bool RFCBase::read(platform::DataReader *reader)
{
    if (!reader) {
        qDebug() << "RFCBase::read nullptr";
        return false;
    }
    try {
        const quint32 count = reader->load(1024);
        if (count == 0) {
            qDebug() << "Not Data";
            return false;
        }
        const QByteArray received = reader->readString(count).toUtf8();
        qDebug() << "Recieved :" + QString::fromUtf8(received.constData(), received.size()) << "\n";

        for (const QByteArray &command : m_commands.feed(received))
            answer(command);
        return true;
    } catch (const PlatformError &e) {
        failed(e.code(), e.message());
        return false;
    }
}

void RFCBase::answer(const QByteArray &command)
{
    const AtReply reply = answerCommand(command);
    if (reply.notice) {
        std::fputs(kNoiseReductionNotice, stdout);
        std::fflush(stdout);
    }
    write(reply.text);
    if (reply.battery) {
        qDebug() << "rfcbase.cpp: " << m_deviceId << " " << *reply.battery;
        m_readALevel.store(true);
        emit signal_sendBattery(m_deviceId, *reply.battery);
    } else if (!reply.ignoredReport.isEmpty()) {
        qDebug() << "rfcbase.cpp: " << m_deviceId << " battery report without a level ("
                 << reply.ignoredReport << "):" << QString::fromUtf8(command.constData(), command.size());
    }
}

void RFCBase::write(const QByteArray &text)
{
    if (!m_writer)
        return;
    qDebug() << "\nWrite: " << QString::fromUtf8(text.constData(), text.size()) << "\n";
    m_writer->writeBytes(text);
    m_writer->store();
}

void RFCBase::failed(qint32 code, const QString &message)
{
    qCritical() << "hresult " << 190 << ":\t" << code << "\n";
    qCritical() << "message: " << message << "\n";
    if (code == platform::kOperationAborted)
        emit signal_error(m_deviceId, tr("蓝牙设备已关闭"));
    else
        emit signal_error(m_deviceId, message);
    quit();
}
