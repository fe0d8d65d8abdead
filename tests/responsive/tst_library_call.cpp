// A library call that waits for a silent projector keeps the window alive, and holds back what
// a blocked program would only have handled afterwards.
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>

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

// An X server of its own with a notification area on it.
class NotificationArea {
public:
    ~NotificationArea() {
        for (QProcess* process : {&tray_, &server_}) {
            process->terminate();
            process->waitForFinished(3000);
        }
    }
    bool start() {
        server_.start("Xvfb",
                      {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        if (!server_.waitForStarted(3000) ||
            !QTest::qWaitFor([&] { return server_.canReadLine(); }, 10000)) {
            return false;
        }
        display_ = ":" + QString::fromLatin1(server_.readLine()).trimmed();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display_);
        tray_.setProcessEnvironment(environment);
        tray_.start("trayer", {"--edge", "top", "--widthtype", "request"});
        return tray_.waitForStarted(3000);
    }
    QString display() const { return display_; }

private:
    QProcess server_;
    QProcess tray_;
    QString display_;
};

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

    // The user ends the program while a status query waits for a silent projector: it ends at
    // once, with its icon gone, and its memory stays flat meanwhile.
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
        projector_.setFault({.kind = emu::FaultKind::NoReply, .onlyType = {}, .frameCount = {}});
        NotificationArea area;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", tray ? "xcb" : "offscreen");
        if (tray) {
            if (!area.start()) QSKIP("needs Xvfb and trayer for a notification area");
            environment.insert("DISPLAY", area.display());
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QCoreApplication::applicationDirPath() + "/exit_during_call",
                      {QString::number(projector_.tcpPort()), how});
        QVERIFY(program.waitForStarted());
        QByteArray said;
        QVERIFY(QTest::qWaitFor(
            [&] { return (said += program.readAllStandardOutput()).contains("ending"); }, 10000));
        QElapsedTimer clock;
        clock.start();
        const qint64 before = ResidentBytes(program.processId());
        qint64 most = before;
        while (program.state() != QProcess::NotRunning && clock.elapsed() < 5000) {
            most = std::max(most, ResidentBytes(program.processId()));
            program.waitForFinished(50);
        }
        said += program.readAllStandardOutput();
        QCOMPARE(program.state(), QProcess::NotRunning);
        // The projector would have kept the query waiting 3000 ms.
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(most - before < 30'000'000, qPrintable(QString::number(most - before)));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(said.contains(tray ? "tray 1" : "tray 0"), said.constData());
        QVERIFY2(said.contains("icon 0"), said.constData());
    }

private:
    emu::Emulator projector_;
};

QTEST_MAIN(LibraryCallTest)
#include "tst_library_call.moc"
