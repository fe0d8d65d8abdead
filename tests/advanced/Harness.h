// What the advanced window's suites share: a fresh emulated projector per test, the window
// opened on it, and a hand that answers the window's message boxes.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

#include "projector_emulator/emulator.h"

class DetailsForm;
class QComboBox;

namespace harness {

// The tab index of each page.
enum Page { kSetup, kMain, kPicture1, kPicture2, kInput, kAuto, kScreen, kOption };

// The page's flag in the program's shared state.
bool& pageFlag(int page);

// What the projector received, one text per frame, as the tests spell it.
QString get(std::uint16_t type);
QString set(std::uint16_t type, std::uint16_t value);
QString inc(std::uint16_t type);
QString dec(std::uint16_t type);
QString exec(std::uint16_t type);

// A running emulator that the library talks to; one per test.
class Projector {
public:
    Projector();
    ~Projector();
    Projector(const Projector&) = delete;
    Projector& operator=(const Projector&) = delete;

    zolvane::emulator::Emulator* operator->() { return &emulator_; }
    bool started() const { return started_; }
    // Frames received since the last clear, in order.
    QStringList sent() const;
    void clear() { emulator_.clearFrames(); }

private:
    zolvane::emulator::Emulator emulator_;
    bool started_ = false;
};

// Opens the window as the main window would show it and waits until its SETUP poll is over.
std::unique_ptr<DetailsForm> openWindow();
// Selects a page and waits until its poll is over. Selecting the page already shown selects
// another page first, so the page is read again.
bool showPage(DetailsForm& form, int page);
bool pollIsOver(DetailsForm& form, int page);

// The user picks an item: the list changes, then tells its listeners.
void choose(QComboBox* box, int index);

// A suite whose tests share one window; each test reads the page it needs again.
class PageSuite : public QObject {
public:
    ~PageSuite() override;

protected:
    DetailsForm& window();
    void closeWindow();

private:
    std::unique_ptr<DetailsForm> window_;
};

struct BoxSeen {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
};

// Answers every message box that becomes the active modal window while it lives, the first
// with the first answer and so on (OK when the answers run out), and records what it saw.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {});
    QList<BoxSeen> seen;
    // Runs while each box is shown, before it is answered.
    std::function<void()> whileShown;

private:
    void look();

    QList<QMessageBox::StandardButton> answers_;
};

}  // namespace harness
