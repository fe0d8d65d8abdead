// A library call that waits for a silent projector keeps the window alive, and holds back what
// a blocked program would only have handled afterwards.
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>

#include "Define.h"
#include "projector_emulator/emulator.h"

using namespace std::chrono_literals;
namespace emu = zolvane::emulator;

namespace {

// Counts ticks of a plain object timer: the kind the toolkit uses for its own work, which must
// keep running while the program waits.
class Heartbeat : public QObject {
public:
    explicit Heartbeat(std::function<void(int)> onTick = {}) : onTick_(std::move(onTick)) {
        startTimer(20);
    }
    int ticks = 0;

protected:
    void timerEvent(QTimerEvent*) override {
        ++ticks;
        if (onTick_) onTick_(ticks);
    }

private:
    std::function<void(int)> onTick_;
};

qint64 ResidentBytes(qint64 pid) {
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

}  // namespace

class LibraryCallTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(projector_.start());
        const QByteArray port = QByteArray::number(projector_.tcpPort());
        QCOMPARE(Define::ZV_SetConnection(2, "127.0.0.1", port.constData()), 1);
    }
    void cleanup() { projector_.clearFault(); }

    void theWindowKeepsRunningWhileTheProjectorIsSilent() {
        projector_.setFault({.kind = emu::FaultKind::NoReply, .onlyType = {}, .frameCount = {}});
        Heartbeat heartbeat;
        uint16_t value = 0xBEEF;
        QCOMPARE(Define::ZV_GetPower(&value), 0);
        QCOMPARE(value, uint16_t(0xBEEF));
        QVERIFY2(heartbeat.ticks >= 20, qPrintable(QString::number(heartbeat.ticks)));
    }

    void clicksAndProgramTimersWaitForTheCall() {
        projector_.setFault(
            {.kind = emu::FaultKind::None, .delay = 600ms, .onlyType = {}, .frameCount = {}});
        QPushButton button(QStringLiteral("Press"));
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        bool returned = false;
        QList<bool> clickedAfterReturn;
        QList<bool> timerAfterReturn;
        connect(&button, &QPushButton::clicked, [&] { clickedAfterReturn << returned; });
        QTimer::singleShot(10, [&] { timerAfterReturn << returned; });
        Heartbeat heartbeat([&](int tick) {
            // Through the window, as the window system delivers it.
            if (tick == 3) {
                QTest::mouseClick(button.windowHandle(), Qt::LeftButton, {},
                                  button.rect().center());
            }
        });

        uint16_t value = 0;
        QCOMPARE(Define::ZV_GetPower(&value), 1);
        returned = true;
        QCOMPARE(value, uint16_t(1));
        QTRY_COMPARE(timerAfterReturn, QList<bool>{true});
        QTRY_COMPARE(clickedAfterReturn, QList<bool>{true});
    }

    // The user ends the program while a status query waits for a silent projector, with a
    // notification area (an X server of its own with trayer on it) or without (offscreen).
    void endingTheProgramDuringACall_data() {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QString>("how");
        QTest::newRow("&Exit, notification area") << true << "menu";
        QTest::newRow("&Exit, no notification area") << false << "menu";
        QTest::newRow("close box, no notification area") << false << "closebox";
    }
    void endingTheProgramDuringACall() {
        QFETCH(bool, tray);
        QFETCH(QString, how);
        if (tray && (QStandardPaths::findExecutable("xvfb-run").isEmpty() ||
                     QStandardPaths::findExecutable("trayer").isEmpty())) {
            QSKIP("needs xvfb-run and trayer for a notification area");
        }
        projector_.setFault({.kind = emu::FaultKind::NoReply, .onlyType = {}, .frameCount = {}});
        const QString helper = QCoreApplication::applicationDirPath() + "/exit_during_call";
        const QStringList arguments = {QString::number(projector_.tcpPort()), how};
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", tray ? "xcb" : "offscreen");
        program.setProcessEnvironment(environment);
        if (tray) {
            program.start(
                "xvfb-run",
                QStringList{"-a", "sh", "-c", "trayer --edge top & exec \"$0\" \"$@\"", helper} +
                    arguments);
        } else {
            program.start(helper, arguments);
        }
        QByteArray said;
        QVERIFY(QTest::qWaitFor(
            [&] { return (said += program.readAllStandardOutput()).contains("ending"); }, 20000));
        const qint64 pid = QRegularExpression("pid (\\d+)").match(said).captured(1).toLongLong();
        QElapsedTimer clock;
        clock.start();
        const qint64 before = ResidentBytes(pid);
        qint64 most = before;
        while (program.state() != QProcess::NotRunning && clock.elapsed() < 5000) {
            most = std::max(most, ResidentBytes(pid));
            program.waitForFinished(50);
        }
        const qint64 took = clock.elapsed();
        if (program.state() != QProcess::NotRunning) ::kill(pid_t(pid), SIGKILL);
        program.waitForFinished(5000);  // xvfb-run, if it ran it, ends its server after it
        said += program.readAllStandardOutput();
        // The projector would have kept the query waiting 3000 ms.
        QVERIFY2(took < 2500, qPrintable(QString::number(took)));
        QVERIFY2(most - before < 30'000'000, qPrintable(QString::number(most - before)));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(said.contains(tray ? "tray 1" : "tray 0") && said.contains("icon 0"), said);
    }

private:
    emu::Emulator projector_;
};

QTEST_MAIN(LibraryCallTest)
#include "tst_library_call.moc"
