#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <memory>

// Runs one of the programs under the test run's X server and drives it as a
// person would: xdotool for real input, screenshots for what is on screen.
class ProgramDriver
{
public:
    ~ProgramDriver() { stop(); }

    bool start(const QString &program, const QString &workingDirectory, const QProcessEnvironment &env)
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(env);
        m_process->setWorkingDirectory(workingDirectory);
        m_process->start(program, QStringList());
        if (!m_process->waitForStarted())
            return false;
        m_window = waitForWindow();
        return !m_window.isEmpty();
    }

    // Ends the program as a logout does and fails the running test if it
    // did not end with status 0 (unless the test checked its status itself)
    // or if a sanitizer reported anything on its standard error.
    void stop()
    {
        if (!m_process || m_stopped)
            return;
        m_stopped = true;
        bool killed = false;
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(5000)) {
                m_process->kill();
                killed = true;
            }
            m_process->waitForFinished(2000);
        }
        const QByteArray errors = errorOutput();
        for (const char *report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                                   "WARNING: ThreadSanitizer"}) {
            const int at = errors.indexOf(report);
            if (at >= 0)
                QTest::qFail(("the program's sanitizer report:\n" + errors.mid(at, 4000)).constData(), __FILE__, __LINE__);
        }
        if (killed)
            QTest::qFail("the program did not end within 5 s of SIGTERM", __FILE__, __LINE__);
        else if (!m_statusChecked && (m_process->exitStatus() != QProcess::NormalExit || m_process->exitCode() != 0))
            QTest::qFail(QStringLiteral("the program ended with status %1%2")
                             .arg(m_process->exitCode())
                             .arg(m_process->exitStatus() == QProcess::CrashExit ? " (crashed)" : "")
                             .toUtf8().constData(), __FILE__, __LINE__);
    }

    // Everything the program wrote to its standard error so far.
    const QByteArray &errorOutput()
    {
        if (m_process)
            m_errors += m_process->readAllStandardError();
        return m_errors;
    }

    static QString run(const QStringList &command)
    {
        QProcess p;
        p.start(command.first(), command.mid(1));
        p.waitForFinished(15000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    static QString visibleWindow() { return run({"xdotool", "search", "--onlyvisible", "--name", "^Kestrolune$"}); }

    void click(int x, int y) const
    {
        run({"xdotool", "mousemove", "--window", m_window, QString::number(x), QString::number(y), "click", "1"});
    }

    QImage screenshot() const
    {
        QProcess p;
        p.start("import", {"-window", m_window, "png:-"});
        p.waitForFinished(15000);
        return QImage::fromData(p.readAllStandardOutput(), "PNG");
    }

    // Device cards on screen, counted down the list (80 px a row).
    int cardsShown() const
    {
        const QImage shot = screenshot();
        int n = 0;
        while (n < 6 && isCard(shot.pixelColor(30, 40 + 80 * n)))
            ++n;
        return n;
    }

    static bool near(const QColor &a, const QColor &b)
    {
        return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) < 5;
    }

    bool exitsWith(int code)
    {
        m_statusChecked = true;
        if (!m_process->waitForFinished(10000))
            return false;
        return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == code;
    }

    // For a test that kills the program itself.
    bool endsBySignal()
    {
        m_statusChecked = true;
        return m_process->waitForFinished(5000) && m_process->exitStatus() == QProcess::CrashExit;
    }

    QProcess &process() { return *m_process; }
    const QString &window() const { return m_window; }

private:
    static bool isCard(const QColor &c) { return near(c, QColor("#fafcfd")) || near(c, QColor("#f4f6f9")); }

    static QString waitForWindow()
    {
        for (int i = 0; i < 100; ++i) {
            const QString ids = visibleWindow();
            if (!ids.isEmpty()) {
                QTest::qWait(700); // the first frame
                return ids.split('\n').last();
            }
            QTest::qWait(100);
        }
        return {};
    }

    std::unique_ptr<QProcess> m_process;
    QString m_window;
    QByteArray m_errors;
    bool m_stopped = false;
    bool m_statusChecked = false;
};
