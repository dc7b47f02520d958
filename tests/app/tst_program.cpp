#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

// The programs as processes under the X server of the test run, driven with
// real input (xdotool) and looked at through screenshots.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showsTheWindowWithoutLooseFiles();
    void closingHidesAndKeepsRunning();
    void listenIsSavedAndKeptAcrossRestarts();

private:
    void start(const QString &workingDirectory);
    QString waitForWindow();
    static QString run(const QStringList &command);
    void click(int x, int y);
    QImage screenshot();
    bool exitsWith(int code);
    static void sendClose(const QString &window);

    QString m_build;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QProcess> m_process;
    QString m_window;
};

namespace {
const QColor kCard("#fafcfd");
const QColor kCardHighlighted("#f4f6f9");
const QColor kBackground("#eff4f9");
const QColor kMark("#4CAF50");
bool near(QColor a, QColor b) { return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) < 12; }
} // namespace

void TestProgram::initTestCase()
{
    m_build = qEnvironmentVariable("KESTROLUNE_BUILD_DIR");
    QVERIFY2(QFile::exists(m_build + "/kestrolune-demo"), "KESTROLUNE_BUILD_DIR must hold the programs");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server (the test command runs one with Xvfb)");
}

void TestProgram::init()
{
    m_home = std::make_unique<QTemporaryDir>();
}

void TestProgram::cleanup()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000))
            m_process->kill();
        m_process->waitForFinished(2000);
    }
    m_process.reset();
}

void TestProgram::start(const QString &workingDirectory)
{
    m_process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home->path());
    m_process->setProcessEnvironment(env);
    m_process->setWorkingDirectory(workingDirectory);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(m_build + "/kestrolune-demo", QStringList());
    QVERIFY(m_process->waitForStarted());
    m_window = waitForWindow();
    QVERIFY2(!m_window.isEmpty(), "the window did not appear");
}

QString TestProgram::run(const QStringList &command)
{
    QProcess p;
    p.start(command.first(), command.mid(1));
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString TestProgram::waitForWindow()
{
    for (int i = 0; i < 100; ++i) {
        const QString ids = run({"xdotool", "search", "--onlyvisible", "--name", "^Kestrolune$"});
        if (!ids.isEmpty()) {
            QTest::qWait(700); // first frame
            return ids.split('\n').last();
        }
        QTest::qWait(100);
    }
    return {};
}

void TestProgram::click(int x, int y)
{
    run({"xdotool", "mousemove", "--window", m_window, QString::number(x), QString::number(y), "click", "1"});
}

QImage TestProgram::screenshot()
{
    QProcess p;
    p.start("import", {"-window", m_window, "png:-"});
    p.waitForFinished(15000);
    return QImage::fromData(p.readAllStandardOutput(), "PNG");
}

bool TestProgram::exitsWith(int code)
{
    if (!m_process->waitForFinished(10000))
        return false;
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == code;
}

// What a window manager sends when the title bar's close button is clicked.
void TestProgram::sendClose(const QString &window)
{
    Display *display = XOpenDisplay(nullptr);
    QVERIFY(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.toULong();
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
}

void TestProgram::showsTheWindowWithoutLooseFiles()
{
    QTemporaryDir bare; // no qml/resource here: no icon, no font, still a window
    start(bare.path());
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        const QImage shot = screenshot();
        // Three device cards, then background.
        for (int k = 0; k < 3; ++k) {
            const QColor c = shot.pixelColor(30, 40 + 80 * k);
            if (!near(c, kCard) && !near(c, kCardHighlighted))
                return false;
        }
        return near(shot.pixelColor(30, 280), kBackground);
    }(), 6000);
    click(320, 435); // 退出服务
    QVERIFY(exitsWith(0));
}

void TestProgram::closingHidesAndKeepsRunning()
{
    start(m_build);
    sendClose(m_window);
    QTRY_VERIFY_WITH_TIMEOUT(run({"xdotool", "search", "--onlyvisible", "--name", "^Kestrolune$"}).isEmpty(), 3000);
    QTest::qWait(1000);
    QCOMPARE(m_process->state(), QProcess::Running);
}

void TestProgram::listenIsSavedAndKeptAcrossRestarts()
{
    start(m_build);
    click(567, 40); // 监听 on the first headset
    const QString config = m_home->filePath("kestrolune.json");
    auto saved = [&] {
        QFile f(config);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    };
    QTRY_COMPARE_WITH_TIMEOUT(saved(), QJsonObject({{"sim-headset-aurora", QJsonObject{{"listen", true}}}}), 3000);
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += m_process->readAllStandardError()).contains("updateDeviceBatteryValue sim-headset-aurora"), 10000);
    QTRY_VERIFY(near(screenshot().pixelColor(567, 40), kMark));

    click(320, 435); // exit while the headset talks
    QVERIFY(exitsWith(0));

    start(m_build);
    QTRY_VERIFY_WITH_TIMEOUT(near(screenshot().pixelColor(567, 40), kMark), 5000);
    QVERIFY(!near(screenshot().pixelColor(457, 40), kMark)); // 托盘 stays off
    log.clear();
    QTRY_VERIFY_WITH_TIMEOUT((log += m_process->readAllStandardError()).contains("updateDeviceBatteryValue sim-headset-aurora"), 10000);
    click(320, 435);
    QVERIFY(exitsWith(0));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
