// The status poll: what it asks in which order, what it makes of answers and failures, when it
// runs again, and the wait that follows a power-on from the toolbar.
#include <QLabel>
#include <QTest>
#include <memory>

#include "AppTest.h"
#include "MainModule.h"
#include "windows/MainForm.h"
#include "windows/Timers.h"
#include "windows/ToolbarButton.h"
#include "windows/WaitForm.h"

using namespace MainModule;
using zolvane::emulator::FaultKind;
using ProjectorPower = zolvane::emulator::PowerState;

namespace {

QTimer* PollTimer() { return Timers::instance().StatusCheckTimer; }

QList<int> States() { return {PowerState, InputState, BlankState, MuteState}; }

constexpr int kRefused = -1;  // in the table: the projector refuses that query

}  // namespace

class StatusPollTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void poll_data();
    void poll();
    void badProjector_data();
    void badProjector();
    void powerOnWaitsForAPowerAnswer();
    void waitGivesUpAfterAMinute();

private:
    bool runPoll();  // as the timer starts it; true once it has ended
    void powerOnFromTheToolbar();

    std::unique_ptr<apptest::Projector> projector_;
};

void StatusPollTest::init() {
    apptest::ResetProgram();
    projector_ = std::make_unique<apptest::Projector>();
    QVERIFY(projector_->started());
    projector_->connectProgram();
    MainForm::instance()->show();
}

void StatusPollTest::cleanup() {
    apptest::ResetProgram();
    projector_.reset();
}

bool StatusPollTest::runPoll() {
    (*projector_)->clearFrames();
    PollTimer()->start(0);
    return QTest::qWaitFor([] { return PollTimer()->interval() == 5000 && !StatusPollBusy; },
                           20000);
}

void StatusPollTest::poll_data() {
    QTest::addColumn<QList<int>>("answers");  // power, input, blank, mute
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QString>("pressed");
    QTest::addColumn<QStringList>("tooltips");  // Power, Blank, Mute
    // Before each poll: InputState 3 (M1-D), the rest 0, the buttons as built.
    QTest::newRow("on, Video, blanked")
        << QList<int>{1, 1, 1, 0} << QList<int>{1, 1, 1, 0} << "Power Video Blank"
        << QStringList{"Power Off", "Blank Off", "Mute On"};
    QTest::newRow("off: only power answers")
        << QList<int>{0, 0, 0, 0} << QList<int>{0, -1, -1, -1} << ""
        << QStringList{"Power On", "Blank On", "Mute On"};
    QTest::newRow("cooling down") << QList<int>{2, 0, 0, 0} << QList<int>{2, -1, -1, -1} << ""
                                  << QStringList{"Cool down", "Blank On", "Mute On"};
    QTest::newRow("all refused") << QList<int>{kRefused, kRefused, kRefused, kRefused}
                                 << QList<int>{-1, -1, -1, -1} << ""
                                 << QStringList{"Power", "Blank On", "Mute On"};
    QTest::newRow("no such states")
        << QList<int>{1, 6, 2, 1} << QList<int>{1, 3, 0, 1} << "Power M1-D Mute"
        << QStringList{"Power Off", "Blank On", "Mute Off"};
}

void StatusPollTest::poll() {
    QFETCH(QList<int>, answers);
    QFETCH(QList<int>, states);
    QFETCH(QString, pressed);
    QFETCH(QStringList, tooltips);
    auto& projector = *projector_;
    const std::uint16_t types[] = {0x6000, 0x2000, 0x3020, 0x2002};
    for (int i = 0; i < 4; ++i) {
        if (answers[i] == kRefused) {
            projector->failGet(types[i]);
        } else if (i == 0) {
            projector->setPower(ProjectorPower(answers[i]));
        } else {
            projector->setValue(types[i], std::uint16_t(answers[i]));
        }
    }
    InputState = 3;
    bool busyWhileWaiting = false;  // between queries: busy, and the timer off
    QTimer probe;
    connect(&probe, &QTimer::timeout,
            [&] { busyWhileWaiting |= StatusPollBusy && !PollTimer()->isActive(); });
    probe.start(1);
    apptest::ModalHand hand;
    QVERIFY(runPoll());

    QCOMPARE(projector.sent(), (QStringList{"get 6000", "get 2000", "get 3020", "get 2002"}));
    QCOMPARE(States(), states);
    QCOMPARE(apptest::PressedButtons(), pressed);
    QCOMPARE(apptest::SwitchTooltips(), tooltips);
    QVERIFY(hand.seen.isEmpty());
    QVERIFY(busyWhileWaiting);
    QVERIFY(PollTimer()->isActive());
    QVERIFY(PollTimer()->remainingTime() > 2500);  // five seconds after the poll's end
}

void StatusPollTest::badProjector_data() {
    QTest::addColumn<int>("fault");  // None: the projector is gone
    QTest::newRow("gone") << int(FaultKind::None);
    QTest::newRow("garbage") << int(FaultKind::Garbage);
    QTest::newRow("hangs up") << int(FaultKind::Close);
    QTest::newRow("NAK") << int(FaultKind::Nak);
}

void StatusPollTest::badProjector() {
    QFETCH(int, fault);
    if (fault == int(FaultKind::None)) {
        (*projector_)->stop();
    } else {
        zolvane::emulator::FaultConfig config;
        config.kind = FaultKind(fault);
        (*projector_)->setFault(config);
    }
    ShowBlankButton = false;  // a hidden button's state is kept all the same
    BuildToolbar();
    apptest::ModalHand hand;
    QVERIFY(runPoll());
    QCOMPARE(States(), (QList<int>{-1, -1, -1, -1}));
    QVERIFY(hand.seen.isEmpty());
    QVERIFY(PollTimer()->isActive());
}

void StatusPollTest::powerOnFromTheToolbar() {
    (*projector_)->setPower(ProjectorPower::Off);
    PollTimer()->start(5000);
    MainForm::instance()->button(QStringLiteral("Power"))->click();
}

void StatusPollTest::powerOnWaitsForAPowerAnswer() {
    powerOnFromTheToolbar();
    WaitForm* wait = WaitForm::current();
    QVERIFY(wait != nullptr && wait->isVisible());
    QCOMPARE(wait->windowTitle() + wait->Label1->text(), QStringLiteral("LumerisPlease wait ..."));
    QVERIFY(wait->Label1->font().bold() && wait->Label1->font().pointSize() == 12);
    QVERIFY(!MainForm::instance()->isEnabled() && PowerOnWaiting);
    QCOMPARE(PollTimer()->interval(), 5000);

    (*projector_)->failGet(0x6000);  // a failed power query does not end the wait
    QVERIFY(runPoll());
    QVERIFY(WaitForm::current() != nullptr && !MainForm::instance()->isEnabled());

    (*projector_)->failGet(0x6000, false);
    QVERIFY(runPoll());
    QTRY_VERIFY(WaitForm::current() == nullptr);
    QVERIFY(MainForm::instance()->isEnabled() && !PowerOnWaiting);
    QCOMPARE(apptest::SwitchTooltips()[0], QStringLiteral("Power Off"));
}

void StatusPollTest::waitGivesUpAfterAMinute() {
    powerOnFromTheToolbar();
    PollTimer()->stop();
    QTimer* timeOut = WaitForm::current()->ShowWaitFormTimer;
    QVERIFY(timeOut->isActive() && timeOut->interval() == 60000);
    apptest::ModalHand hand;
    timeOut->start(10);  // the minute, shortened
    QTRY_COMPARE(hand.seen.size(), 1);
    QCOMPARE(hand.seen[0].text, QStringLiteral("Communication Error!!"));
    QCOMPARE(hand.seen[0].caption, QStringLiteral("Lumeris"));
    QCOMPARE(hand.seen[0].icon, QMessageBox::Information);
    QTRY_VERIFY(WaitForm::current() == nullptr);
    QVERIFY(MainForm::instance()->isEnabled() && !PowerOnWaiting);
}

QTEST_MAIN(StatusPollTest)
#include "tst_status_poll.moc"
