#include "Timers.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include "Define.h"
#include "MainModule.h"
#include "windows/MainForm.h"
#include "windows/WaitForm.h"

using namespace MainModule;

namespace {

constexpr int kPollInterval = 5000;
constexpr int kQueryGap = 10;

}  // namespace

struct Timers::StateQuery {
    int32_t (*get)(uint16_t*);
    int16_t* state;
    uint16_t highest;  // larger answers are not states; they change nothing
    void (MainForm::*show)();
    bool endsPowerOnWait;
};

// In the order the projector is asked.
const Timers::StateQuery Timers::kQueries[] = {
    {&Define::ZV_GetPower, &PowerState, 2, &MainForm::refreshPowerButton, true},
    {&Define::ZV_GetInputSource, &InputState, 5, &MainForm::refreshInputButtons, false},
    {&Define::ZV_GetBlank, &BlankState, 1, &MainForm::refreshBlankButton, false},
    {&Define::ZV_GetMute, &MuteState, 1, &MainForm::refreshMuteButton, false},
};

Timers& Timers::instance() {
    // Owned by the application object, so that the timer goes before the event dispatcher.
    static QPointer<Timers> timers;
    if (timers.isNull()) timers = new Timers();
    return *timers;
}

Timers::Timers() : QObject(QCoreApplication::instance()) {
    setObjectName(QStringLiteral("Timers"));
    StatusCheckTimer = new QTimer(this);
    StatusCheckTimer->setObjectName(QStringLiteral("StatusCheckTimer"));
    StatusCheckTimer->setInterval(kPollInterval);
    connect(StatusCheckTimer, &QTimer::timeout, this, &Timers::pollStatus);
}

// Runs on the user-interface thread and yields to window events between its queries (Delay),
// so clicks and other timers may run in the middle of it; its own timer is off meanwhile.
// The next poll follows five seconds after this one ends.
void Timers::pollStatus() {
    StatusCheckTimer->stop();
    StatusPollBusy = true;
    bool first = true;
    for (const StateQuery& row : kQueries) {
        if (!first) Delay(kQueryGap);
        first = false;
        query(row);
    }
    RefreshToolbar();
    StatusPollBusy = false;
    StatusCheckTimer->start(kPollInterval);
}

// A failed query marks the state unknown; RefreshToolbar shows that at the end of the poll.
void Timers::query(const StateQuery& row) {
    uint16_t value = 0;
    if (row.get(&value) == 0) {
        *row.state = -1;
        return;
    }
    if (value > row.highest) return;
    *row.state = int16_t(value);
    (MainForm::instance()->*row.show)();
    if (row.endsPowerOnWait && PowerOnWaiting) endPowerOnWait();
}

void Timers::endPowerOnWait() {
    WaitForm::dismiss();
    PowerOnWaiting = false;
    MainForm* main = MainForm::instance();
    main->setEnabled(true);
    main->raise();
    main->activateWindow();
}
