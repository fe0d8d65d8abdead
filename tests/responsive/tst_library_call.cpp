// A library call that waits for a silent projector keeps the window alive, and holds back what
// a blocked program would only have handled afterwards.
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
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

    void endingTheProgramDuringACallDoesNotWaitForIt() {
        projector_.setFault({.kind = emu::FaultKind::NoReply, .onlyType = {}, .frameCount = {}});
        QProcess program;
        program.start(QCoreApplication::applicationDirPath() + "/exit_during_call",
                      {QString::number(projector_.tcpPort())});
        QVERIFY(program.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 3);
        // The projector would have kept the call waiting 3000 ms.
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    }

private:
    emu::Emulator projector_;
};

QTEST_MAIN(LibraryCallTest)
#include "tst_library_call.moc"
