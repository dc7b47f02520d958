#include "support/programdriver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

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
    void secondStartShowsTheFirstWindow();
    void staleLockOfACrashedRunIsTakenOver();
    void sessionSignalsExitLikeTheExitButton_data();
    void sessionSignalsExitLikeTheExitButton();

private:
    void start(const QString &workingDirectory);
    static void sendClose(const QString &window);

    QString m_build;
    QProcessEnvironment environment() const;

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<ProgramDriver> m_program;
};

namespace {
const QColor kMark("#4CAF50");
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
    m_runtime = std::make_unique<QTemporaryDir>();
}

void TestProgram::cleanup()
{
    m_program.reset();
}

void TestProgram::start(const QString &workingDirectory)
{
    m_program = std::make_unique<ProgramDriver>();
    QVERIFY2(m_program->start(m_build + "/kestrolune-demo", workingDirectory, environment()), "the window did not appear");
}

QProcessEnvironment TestProgram::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home->path());
    env.insert("XDG_RUNTIME_DIR", m_runtime->path());
    return env;
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
    QTRY_COMPARE_WITH_TIMEOUT(m_program->cardsShown(), 5, 6000);
    // Drawn in software: no OpenGL driver is loaded for the whole session.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(m_program->process().processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("_dri.so"));
    m_program->click(320, 435); // 退出服务
    QVERIFY(m_program->exitsWith(0));
}

void TestProgram::closingHidesAndKeepsRunning()
{
    start(m_build);
    sendClose(m_program->window());
    QTRY_VERIFY_WITH_TIMEOUT(ProgramDriver::visibleWindow().isEmpty(), 3000);
    QTest::qWait(1000);
    QCOMPARE(m_program->process().state(), QProcess::Running);
}

void TestProgram::listenIsSavedAndKeptAcrossRestarts()
{
    start(m_build);
    m_program->click(567, 40); // 监听 on the first headset
    const QString config = m_home->filePath("kestrolune.json");
    auto saved = [&] {
        QFile f(config);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    };
    QTRY_COMPARE_WITH_TIMEOUT(saved(), QJsonObject({{"sim-headset-aurora", QJsonObject{{"listen", true}}}}), 3000);
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log = m_program->errorOutput()).contains("updateDeviceBatteryValue sim-headset-aurora"), 10000);
    QTRY_VERIFY(ProgramDriver::near(m_program->screenshot().pixelColor(567, 40), kMark));

    m_program->click(320, 435); // exit while the headset talks
    QVERIFY(m_program->exitsWith(0));

    start(m_build);
    QTRY_VERIFY_WITH_TIMEOUT(ProgramDriver::near(m_program->screenshot().pixelColor(567, 40), kMark), 5000);
    QVERIFY(!ProgramDriver::near(m_program->screenshot().pixelColor(457, 40), kMark)); // 托盘 stays off
    log.clear();
    QTRY_VERIFY_WITH_TIMEOUT((log = m_program->errorOutput()).contains("updateDeviceBatteryValue sim-headset-aurora"), 10000);
    m_program->click(320, 435);
    QVERIFY(m_program->exitsWith(0));
}

void TestProgram::secondStartShowsTheFirstWindow()
{
    start(m_build);
    sendClose(m_program->window());
    QTRY_VERIFY_WITH_TIMEOUT(ProgramDriver::visibleWindow().isEmpty(), 3000);
    QProcess second;
    second.setProcessEnvironment(environment());
    second.setWorkingDirectory(m_build);
    second.start(m_build + "/kestrolune-demo", QStringList());
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(ProgramDriver::visibleWindow(), m_program->window(), 3000); // the first one, in front
    QCOMPARE(m_program->process().state(), QProcess::Running);
}

void TestProgram::staleLockOfACrashedRunIsTakenOver()
{
    start(m_build);
    ::kill(pid_t(m_program->process().processId()), SIGKILL);
    QVERIFY(m_program->endsBySignal());
    QVERIFY(!QDir(m_runtime->path()).entryList({"kestrolune-*.lock"}).isEmpty()); // left behind
    start(m_build); // the window appears
    m_program->click(320, 435);
    QVERIFY(m_program->exitsWith(0));
}

void TestProgram::sessionSignalsExitLikeTheExitButton_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM (logout)") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl-C)") << int(SIGINT);
    QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
}

void TestProgram::sessionSignalsExitLikeTheExitButton()
{
    QFETCH(int, signal);
    QFile config(m_home->filePath("kestrolune.json"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(R"({"sim-headset-aurora":{"listen":true,"tray":true}})");
    config.close();
    start(m_build);
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log = m_program->errorOutput()).contains("updateDeviceBatteryValue sim-headset-aurora"), 10000);
    ::kill(pid_t(m_program->process().processId()), signal);
    QVERIFY(m_program->exitsWith(0)); // the orderly exit, with the link talking
    log = m_program->errorOutput();
    QVERIFY(!log.contains("did not stop in time"));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
