#include "headsetsession.h"
#include "agreplies.h"

#include <QElapsedTimer>


namespace platform::sim {

namespace {

QString visible(const QByteArray &bytes)
{
    QString s = QString::fromUtf8(bytes.constData(), bytes.size());
    s.replace(QChar(0), QLatin1String("\\0"));
    s.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    s.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return s;
}

// AG supported features bits that decide which optional steps follow.
constexpr int kAgThreeWay = 1 << 0;
constexpr int kAgCodecNegotiation = 1 << 9;
constexpr int kAgHfIndicators = 1 << 10;
// HF supported features bits.
constexpr int kHfThreeWay = 1 << 1;
constexpr int kHfCodecNegotiation = 1 << 7;
constexpr int kHfIndicators = 1 << 8;

} // namespace

HeadsetSession::HeadsetSession(os::Handle readFd, os::Handle writeFd, HeadsetOptions options, Logger log)
    : m_readFd(readFd), m_writeFd(writeFd), m_options(options), m_log(std::move(log)), m_level(options.level)
{
}

HeadsetSession::~HeadsetSession() = default;

void HeadsetSession::run()
{
    if (!m_options.silent && serviceLevelConnection()) {
        m_setUp.store(true);
        m_changed.notify_all();
        if (m_batteryEnabled) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_commands.push_front({Action::Send, "AT+BIEV=2," + QByteArray::number(m_level) + "\r"});
        }
        wake();
    }
    serveUntilStopped();
    m_ended.store(true);
    m_changed.notify_all();
}

bool HeadsetSession::serviceLevelConnection()
{
    using namespace agreplies;
    QStringList info;
    QString error;
    const auto failed = [&] {
        fail(error);
        return false;
    };

    if (!exchange("AT+BRSF=" + QByteArray::number(m_options.features) + "\r", &info))
        return false;
    const std::optional<int> ag = features(info, &error);
    if (!ag)
        return failed();

    if ((*ag & kAgCodecNegotiation) && (m_options.features & kHfCodecNegotiation)
        && !exchange("AT+BAC=1,2\r", &info))
        return false;

    if (!exchange("AT+CIND=?\r", &info))
        return false;
    const auto maxima = indicatorRanges(info, &error);
    if (!maxima)
        return failed();
    if (!exchange("AT+CIND?\r", &info))
        return false;
    if (!indicatorValuesFit(info, *maxima, &error))
        return failed();

    if (!exchange("AT+CMER=3,0,0,1\r", &info))
        return false;

    // Many hands-free units accept a bare OK here although the AG advertises
    // three-way calling; so do we.
    if ((*ag & kAgThreeWay) && (m_options.features & kHfThreeWay) && !exchange("AT+CHLD=?\r", &info))
        return false;

    if ((*ag & kAgHfIndicators) && (m_options.features & kHfIndicators)) {
        if (!exchange("AT+BIND=1,2\r", &info) || !exchange("AT+BIND=?\r", &info))
            return false;
        const auto agHasBattery = supportsBattery(info, &error);
        if (!agHasBattery)
            return failed();
        if (!exchange("AT+BIND?\r", &info))
            return false;
        const auto enabled = batteryEnabled(info, &error);
        if (!enabled)
            return failed();
        m_batteryEnabled = *agHasBattery && *enabled;
    }
    note(QStringLiteral("-- service level connection established"));
    if (m_options.askOperator && !(exchangeOptional("AT+COPS=3,0\r") && exchangeOptional("AT+COPS?\r")))
        return false;
    return true;
}

bool HeadsetSession::exchangeOptional(const QByteArray &command)
{
    QStringList info;
    m_errorIsAnAnswer = true;
    const bool answered = exchange(command, &info);
    m_errorIsAnAnswer = false;
    return answered;
}

bool HeadsetSession::exchange(const QByteArray &command, QStringList *infoLines)
{
    infoLines->clear();
    if (!writeAll(command))
        return false;
    bool gotFinal = false;
    while (!gotFinal) {
        if (!readReplies(infoLines, &gotFinal, m_options.replyTimeoutMs)) {
            if (!m_stopping.load() && !m_broken.load())
                fail(QStringLiteral("%1: no final result code").arg(visible(command)));
            return false;
        }
    }
    return true;
}

bool HeadsetSession::readReplies(QStringList *infoLines, bool *gotFinal, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (!takeUnits(infoLines, gotFinal))
            return false;
        if (*gotFinal)
            return true;
        const int left = timeoutMs < 0 ? -1 : int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
        if (left == 0)
            return false;
        const int ready = os::waitReady(m_readFd, os::kReadable, m_wake.handle(), left);
        if (ready < 0 && os::isTransient(os::lastError()))
            continue;
        if (m_stopping.load())
            return false;
        if (ready > 0 && (ready & 2) && !handleCommands())
            return false;
        if (ready <= 0 || !(ready & 1))
            continue;
        char buf[2048];
        const qint64 got = os::readSome(m_readFd, buf, sizeof buf);
        if (got < 0 && os::isTransient(os::lastError()))
            continue;
        if (got <= 0)
            return false;
        m_inbox.append(buf, int(got));
    }
}

// Takes every complete "\r\n<line>\r\n" unit from the inbox. An AG reply
// that is not framed this way is a failure.
bool HeadsetSession::takeUnits(QStringList *infoLines, bool *gotFinal)
{
    while (m_inbox.size() >= 2) {
        if (!m_inbox.startsWith("\r\n")) {
            fail(QStringLiteral("reply not framed by CR LF: \"%1\"").arg(visible(m_inbox)));
            m_inbox.clear();
            return false;
        }
        const int end = m_inbox.indexOf("\r\n", 2);
        if (end < 0)
            return true;
        const QString line = QString::fromUtf8(m_inbox.mid(2, end - 2));
        m_inbox.remove(0, end + 2);
        note(QStringLiteral("AG: ") + line);
        if (line == QLatin1String("OK")) {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_finals;
            *gotFinal = true;
            m_changed.notify_all();
        } else if (line == QLatin1String("ERROR") || line.startsWith(QLatin1String("+CME ERROR"))) {
            if (!m_errorIsAnAnswer)
                fail(QStringLiteral("AG answered %1").arg(line));
            *gotFinal = true;
        } else if (line.isEmpty()) {
            fail(QStringLiteral("empty line in reply"));
        } else if (infoLines) {
            infoLines->append(line);
        }
    }
    return true;
}

void HeadsetSession::serveUntilStopped()
{
    QStringList unexpected;
    bool readOpen = true;
    while (!m_stopping.load()) {
        const int ready = os::waitReady(readOpen ? m_readFd : os::kNoHandle, os::kReadable, m_wake.handle(), -1);
        if (ready <= 0)
            continue;
        if ((ready & 2) && !handleCommands())
            return;
        if (readOpen && (ready & 1)) {
            char buf[2048];
            const qint64 got = os::readSome(m_readFd, buf, sizeof buf);
            if (got < 0 && os::isTransient(os::lastError()))
                continue;
            if (got <= 0) {
                note(QStringLiteral("-- AG closed the stream"));
                readOpen = false;
                m_agClosed.store(true);
                continue;
            }
            m_inbox.append(buf, int(got));
            bool gotFinal = false;
            unexpected.clear();
            takeUnits(&unexpected, &gotFinal);
            for (const QString &line : qAsConst(unexpected))
                fail(QStringLiteral("unsolicited line from the AG: \"%1\"").arg(line));
        }
    }
}

bool HeadsetSession::handleCommands()
{
    m_wake.drain();
    for (;;) {
        Command c;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_commands.empty())
                return !m_stopping.load();
            c = m_commands.front();
            m_commands.pop_front();
        }
        switch (c.action) {
        case Action::Send:
            if (!writeAll(c.bytes))
                return false;
            break;
        case Action::Close:
            note(QStringLiteral("-- closing the stream"));
            m_closed.store(true);
            os::shutdownWrite(m_writeFd);
            break;
        case Action::Break:
            note(QStringLiteral("-- breaking the stream"));
            m_broken.store(true);
            os::shutdownBoth(m_writeFd);
            os::shutdownBoth(m_readFd);
            return false;
        }
    }
}

bool HeadsetSession::writeAll(const QByteArray &bytes)
{
    note(QStringLiteral("HF: ") + visible(bytes.left(200)) + (bytes.size() > 200 ? QStringLiteral("...") : QString()));
    qsizetype done = 0;
    while (done < bytes.size()) {
        // A gateway that stops reading must not keep stop() waiting.
        if (m_stopping.load())
            return false;
        if (os::waitReady(m_writeFd, os::kWritable, os::kNoHandle, 100) <= 0)
            continue;
        const qint64 n = os::writeSome(m_writeFd, bytes.constData() + done, bytes.size() - done);
        if (n < 0) {
            if (os::isTransient(os::lastError()))
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

void HeadsetSession::wake()
{
    m_wake.signal();
}

void HeadsetSession::setLevel(int level)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_level = level;
    if (m_setUp.load() && m_batteryEnabled) {
        m_commands.push_back({Action::Send, "AT+BIEV=2," + QByteArray::number(level) + "\r"});
        lock.unlock();
        wake();
    }
}

void HeadsetSession::post(Action action, const QByteArray &bytes)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_commands.push_back({action, bytes});
    }
    wake();
}

void HeadsetSession::send(const QByteArray &bytes)
{
    post(Action::Send, bytes);
}

void HeadsetSession::closeCleanly()
{
    post(Action::Close);
}

void HeadsetSession::breakStream(qint32 code, const QString &message)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_breakError = PlatformError(code, message);
    }
    post(Action::Break);
}

void HeadsetSession::stop()
{
    m_stopping.store(true);
    wake();
}

bool HeadsetSession::waitForSetUp(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    QElapsedTimer clock;
    clock.start();
    while (!m_setUp.load() && !m_ended.load() && clock.elapsed() < timeoutMs)
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    return m_setUp.load();
}

bool HeadsetSession::waitForFinalCount(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    QElapsedTimer clock;
    clock.start();
    while (m_finals < count && clock.elapsed() < timeoutMs)
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    return m_finals >= count;
}

int HeadsetSession::finalCount() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_finals;
}

PlatformError HeadsetSession::breakError() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_breakError;
}

QStringList HeadsetSession::failures() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_failures;
}

void HeadsetSession::fail(const QString &what)
{
    note(QStringLiteral("!! ") + what);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_failures << what;
}

void HeadsetSession::note(const QString &line)
{
    if (m_log)
        m_log(line);
}

} // namespace platform::sim
