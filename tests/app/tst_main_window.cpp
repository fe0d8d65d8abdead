// The main window: which buttons the toolbar holds and how wide the window is, what each
// button sends (the projector's frame log is the witness) and shows, the notification-area
// menu, and the placing of windows over the main window.
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolBar>

#include "AppTest.h"
#include "MainModule.h"
#include "advanced/DetailsForm.h"
#include "windows/AboutForm.h"
#include "windows/ConfigForm.h"
#include "windows/MainForm.h"
#include "windows/Timers.h"
#include "windows/ToolbarButton.h"
#include "windows/WaitForm.h"

using namespace MainModule;
using ProjectorPower = zolvane::emulator::PowerState;

namespace {

const QList<std::pair<QString, bool*>> kButtons = {{"Configuration", &ShowConfigurationButton},
                                                   {"Power", &ShowPowerButton},
                                                   {"M1-D", &ShowM1DButton},
                                                   {"RGB", &ShowRGBButton},
                                                   {"BNC", &ShowBNCButton},
                                                   {"Component", &ShowComponentButton},
                                                   {"S-Video", &ShowSVideoButton},
                                                   {"Video", &ShowVideoButton},
                                                   {"Blank", &ShowBlankButton},
                                                   {"Mute", &ShowMuteButton},
                                                   {"Advanced", &ShowAdvancedButton},
                                                   {"About", &ShowHelpButton}};

QTimer* PollTimer() { return Timers::instance().StatusCheckTimer; }

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { apptest::ResetProgram(); }
    void hiddenButtonsNarrowTheWindow();
    void action_data();
    void action();
    void dialogsPauseThePollOrNot();
    void trayMenu_data();
    void trayMenu();
    void exitEndsTheProgram();
    void positionForm_data();
    void positionForm();
    void formInsideTheScreenWithItsFrame_data();
    void formInsideTheScreenWithItsFrame();
    void delayHandlesEvents();

private:
    MainForm* main_ = nullptr;
};

void MainWindowTest::init() {
    apptest::ResetProgram();
    main_ = MainForm::instance();
    main_->show();
}

void MainWindowTest::hiddenButtonsNarrowTheWindow() {
    QCOMPARE(main_->Toolbar1->geometry(), main_->rect());
    int width = main_->width();
    for (const auto& [key, shown] : kButtons) {
        ToolbarButton* button = main_->button(key);
        QVERIFY2(button != nullptr && button->isVisible(), qPrintable(key));
        QCOMPARE(button->toolTip(), key);
        const int buttonWidth = button->width();
        *shown = false;
        BuildToolbar();
        QVERIFY(main_->button(key) == nullptr);
        QVERIFY(main_->width() <= width - buttonWidth);
        QCOMPARE(main_->Toolbar1->geometry(), main_->rect());
        width = main_->width();
    }
    QCOMPARE(main_->Toolbar1->actions().size(), 2);  // the separators
    QVERIFY(width > 0);
}

namespace {

// One click on the button of key with its state at before: the projector refuses or not; what
// it then received, the state after, the box shown, and the button's look ("pressed tooltip").
// Only the program presses a button, never the click itself: rows that do nothing at all,
// not even a refresh, keep the look the test gave ("1 stale").
struct Click {
    const char* name;
    const char* key;
    int before;
    bool refused;
    const char* sent;
    int after;
    const char* message;
    const char* look;
};

const Click kClicks[] = {
    {"power on", "Power", 0, false, "set 6000 1", 1, "", "1 Power Off"},
    {"power on refused", "Power", 0, true, "set 6000 1", 0, "Power On Error!!", "0 Power On"},
    {"power off", "Power", 1, false, "set 6000 0", 2, "", "0 Cool down"},
    {"power off refused", "Power", 1, true, "set 6000 0", 1, "Power Off Error!!", "1 Power Off"},
    {"power cooling down", "Power", 2, false, "", 2, "", "1 stale"},
    {"power unknown", "Power", -1, false, "", -1, "", "1 stale"},
    {"M1-D", "M1-D", 0, false, "set 2000 3", 3, "", "1 stale"},
    {"RGB", "RGB", 1, false, "set 2000 0", 0, "", "1 stale"},
    {"BNC", "BNC", 0, false, "set 2000 4", 4, "", "1 stale"},
    {"Component", "Component", -1, false, "set 2000 5", 5, "", "1 stale"},
    {"S-Video", "S-Video", 0, false, "set 2000 2", 2, "", "1 stale"},
    {"Video", "Video", 0, false, "set 2000 1", 1, "", "1 stale"},
    {"M1-D refused", "M1-D", 0, true, "set 2000 3", 0, "Input change (M1-D) Error!!", "0 stale"},
    {"Video refused", "Video", 0, true, "set 2000 1", 0, "Input change (Video) Error!!", "0 stale"},
    {"input already selected", "RGB", 0, false, "", 0, "", "1 stale"},
    {"blank on", "Blank", 0, false, "set 3020 1", 1, "", "1 Blank Off"},
    {"blank on refused", "Blank", 0, true, "set 3020 1", 0, "Blank On Error!!", "0 Blank On"},
    {"blank off", "Blank", 1, false, "set 3020 0", 0, "", "0 Blank On"},
    {"blank off refused", "Blank", 1, true, "set 3020 0", 1, "Blank Off Error!!", "1 Blank Off"},
    {"blank unknown", "Blank", -1, false, "", -1, "", "1 stale"},
    {"mute on", "Mute", 0, false, "set 2002 1", 1, "", "1 Mute Off"},
    {"mute on refused", "Mute", 0, true, "set 2002 1", 0, "Mute On Error!!", "0 Mute On"},
    {"mute off", "Mute", 1, false, "set 2002 0", 0, "", "0 Mute On"},
    {"mute off refused", "Mute", 1, true, "set 2002 0", 1, "Mute Off Error!!", "1 Mute Off"},
    {"mute unknown", "Mute", -1, false, "", -1, "", "1 stale"},
};

}  // namespace

void MainWindowTest::action_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kClicks)); ++i) QTest::newRow(kClicks[i].name) << i;
}

void MainWindowTest::action() {
    QFETCH(int, row);
    const Click& click = kClicks[row];
    const QString key = QString::fromLatin1(click.key);
    apptest::Projector projector;
    QVERIFY(projector.started());
    projector.connectProgram();
    const bool powerOn = key == QLatin1String("Power") && click.before == 0;
    projector->setPower(powerOn ? ProjectorPower::Off : ProjectorPower::On);
    const QMap<QString, std::uint16_t> types{
        {"Power", 0x6000}, {"Blank", 0x3020}, {"Mute", 0x2002}};
    projector->refuseSet(types.value(key, 0x2000), click.refused);
    const QMap<QString, int16_t*> states{
        {"Power", &PowerState}, {"Blank", &BlankState}, {"Mute", &MuteState}};
    int16_t& state = *states.value(key, &InputState);
    state = int16_t(click.before);
    ToolbarButton* button = main_->button(key);
    button->setPressed(true);
    button->setToolTip(QStringLiteral("stale"));

    apptest::ModalHand hand;
    button->click();

    QCOMPARE(projector.sent().join(QLatin1Char(',')), QString::fromLatin1(click.sent));
    QCOMPARE(int(state), click.after);
    QCOMPARE(QStringLiteral("%1 %2").arg(int(button->isPressed())).arg(button->toolTip()),
             QString::fromLatin1(click.look));
    QStringList boxes;
    for (const apptest::BoxSeen& box : hand.seen) {
        QCOMPARE(box.caption, QStringLiteral("Lumeris"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        boxes << box.text;
    }
    QCOMPARE(boxes.join(QLatin1Char(',')), QString::fromLatin1(click.message));
    QCOMPARE(main_->isEnabled(), !(powerOn && !click.refused));  // waiting for the power-on
}

void MainWindowTest::dialogsPauseThePollOrNot() {
    QStringList seen;
    apptest::ModalHand hand;
    hand.onOtherModal = [&](QWidget* modal) {
        seen << QStringLiteral("%1 %2").arg(modal->windowTitle()).arg(PollTimer()->isActive());
        modal->close();
    };
    for (const char* key : {"About", "Advanced"}) {
        PollTimer()->start(5000);
        main_->button(QString::fromLatin1(key))->click();
    }
    QCOMPARE(seen, (QStringList{"About Lumeris 1", "Advanced Control 0"}));
    QVERIFY(!StatusPollBusy);
}

void MainWindowTest::trayMenu_data() {
    QTest::addColumn<bool>("mainShown");
    QTest::addColumn<bool>("dialogShown");
    QTest::addColumn<QString>("entries");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("main window shown") << true << false << "&Hide &Exit &Cancel" << true;
    QTest::newRow("main window hidden") << false << false << "&Show &Exit &Cancel" << true;
    QTest::newRow("start-up dialog") << false << true << "&Show &Exit &Cancel" << false;
    QTest::newRow("dialog over the window") << true << true << "&Hide &Exit &Cancel" << false;
}

void MainWindowTest::trayMenu() {
    QFETCH(bool, mainShown);
    QFETCH(bool, dialogShown);
    QFETCH(QString, entries);
    QFETCH(bool, enabled);
    main_->setVisible(mainShown);
    if (dialogShown) (new ConfigForm())->show();
    QTimer::singleShot(0, main_->mnuPopup, &QMenu::close);
    main_->mnuPopup->exec(QPoint(10, 10));
    QStringList texts;
    for (QAction* entry : main_->mnuPopup->actions()) texts << entry->text();
    QCOMPARE(texts.join(QLatin1Char(' ')), entries);
    QCOMPARE(main_->menuShowHide->isEnabled(), enabled);
    QCOMPARE(main_->TrayIcon->toolTip(), QStringLiteral("Lumeris"));
    if (!enabled) return;
    main_->menuCancel->trigger();
    QCOMPARE(main_->isVisible(), mainShown);
    main_->menuShowHide->trigger();
    QCOMPARE(main_->isVisible(), !mainShown);
}

// "&Exit" closes every window and removes the icon. Without a notification area (as here,
// offscreen), closing the main window does the same.
void MainWindowTest::exitEndsTheProgram() {
    for (const bool byMenu : {true, false}) {
        apptest::ResetProgram();
        main_ = MainForm::instance();
        main_->show();
        auto* dialog = new ConfigForm(main_);
        dialog->show();
        QCOMPARE(apptest::RunUntilEnd([this, byMenu] {
                     byMenu ? main_->menuExit->trigger() : void(main_->close());
                 }),
                 0);
        QVERIFY(!main_->TrayIcon->isVisible());
        QVERIFY(ConfigForm::current() == nullptr || !ConfigForm::current()->isVisible());
        if (QSystemTrayIcon::isSystemTrayAvailable()) break;
    }
}

void MainWindowTest::positionForm_data() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const int w = screen.width();
    const int h = screen.height();
    QTest::addColumn<QRect>("main");
    QTest::addColumn<QSize>("dialog");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("centred") << QRect(200, 200, 400, 40) << QSize(200, 100) << QPoint(300, 170);
    QTest::newRow("larger than the main window")
        << QRect(300, 300, 100, 30) << QSize(300, 200) << QPoint(200, 215);
    QTest::newRow("near the right and bottom edges")
        << QRect(w - 100, h - 20, 200, 40) << QSize(300, 100) << QPoint(w - 300, h - 100);
    QTest::newRow("near the left and top edges")
        << QRect(-50, -20, 100, 30) << QSize(200, 100) << QPoint(0, 0);
    QTest::newRow("wider than the screen, centred left of it")
        << QRect(0, 100, 100, 30) << QSize(w + 200, 50) << QPoint(0, 90);
    QTest::newRow("wider than the screen, centred right of its edge")
        << QRect(w - 100, 100, 100, 30) << QSize(w + 100, 50) << QPoint(-100, 90);
}

void MainWindowTest::positionForm() {
    QFETCH(QRect, main);
    QFETCH(QSize, dialog);
    QFETCH(QPoint, expected);
    apptest::ResetProgram();  // never shown: no frame around the sizes of the table
    main_ = MainForm::instance();
    main_->setFixedSize(main.size());
    main_->move(main.topLeft());
    QDialog window;
    window.setFixedSize(dialog);
    PositionForm(&window);
    QCOMPARE(window.pos(), expected);
}

// The window system adds a window's frame only as the window is first shown: a window placed
// over the main window in the bottom right corner of the screen ends inside it, frame and all.
void MainWindowTest::formInsideTheScreenWithItsFrame_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("mainShown");  // else never shown yet: no frame to go by
    QTest::newRow("About") << "About" << true;
    QTest::newRow("wait") << "Wait" << true;
    QTest::newRow("start-up dialog") << "Config" << false;
}

void MainWindowTest::formInsideTheScreenWithItsFrame() {
    QFETCH(QString, form);
    QFETCH(bool, mainShown);
    if (!mainShown) {
        apptest::ResetProgram();
        main_ = MainForm::instance();
    }
    QTRY_COMPARE(main_->frameGeometry() != main_->geometry(), mainShown);
    const QRect screen = main_->screen()->availableGeometry();
    main_->move(screen.bottomRight() - main_->frameGeometry().bottomRight() + main_->pos());
    if (form == "Wait") WaitForm::showWaiting();
    QWidget* window = form == "Wait"    ? static_cast<QWidget*>(WaitForm::current())
                      : form == "About" ? static_cast<QWidget*>(new AboutForm(main_))
                                        : new ConfigForm();
    window->show();
    QTRY_VERIFY(window->frameGeometry() != window->geometry());
    // Taller than the main window, so its frame ends on the screen's bottom edge.
    QTRY_COMPARE(window->frameGeometry().bottom(), screen.bottom());
    QCOMPARE(screen.united(window->frameGeometry()), screen);
}

void MainWindowTest::delayHandlesEvents() {
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    QElapsedTimer clock;
    clock.start();
    Delay(10);
    QVERIFY(clock.nsecsElapsed() > 10'000'000);
    QVERIFY(handled);
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
