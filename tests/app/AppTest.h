// What the program's suites share: a projector emulated on loopback TCP, the program put back
// as start-up leaves it, and a hand that answers the program's modal windows.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "projector_emulator/emulator.h"

namespace apptest {

// One per test; connectProgram() points the program's link at it.
class Projector {
public:
    Projector() { started_ = emulator_.start(); }
    ~Projector() { emulator_.stop(); }
    zolvane::emulator::Emulator* operator->() { return &emulator_; }
    bool started() const { return started_; }
    void connectProgram();
    // Frames received since the last clear: "get 6000", "set 2000 3" (type in hex).
    QStringList sent() const;

private:
    zolvane::emulator::Emulator emulator_;
    bool started_ = false;
};

// Windows destroyed, poll stopped, shared state as start-up leaves it, every button shown.
void ResetProgram();
// Runs the event loop with action in it: the program's exit code, or -1 if it did not end.
int RunUntilEnd(const std::function<void()>& action);

QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& content);

// The main window's pressed buttons, left to right, and the tooltips of Power, Blank, Mute.
QString PressedButtons();
QStringList SwitchTooltips();

struct BoxSeen {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
};

// While it lives, answers each message box that becomes the active modal window with OK and
// records it; other modal windows go to onOtherModal, once each.
class ModalHand : public QObject {
public:
    ModalHand();
    QList<BoxSeen> seen;
    std::function<void(QWidget*)> onOtherModal;

private:
    void look();
    QTimer timer_;
    QList<QPointer<QWidget>> handled_;  // a new window may reuse a closed one's address
};

}  // namespace apptest
