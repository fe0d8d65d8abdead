#include "MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QToolBar>

#include "Define.h"
#include "LibraryCall.h"
#include "MainModule.h"
#include "advanced/DetailsForm.h"
#include "windows/AboutForm.h"
#include "windows/ConfigForm.h"
#include "windows/Timers.h"
#include "windows/ToolbarButton.h"
#include "windows/WaitForm.h"

using namespace MainModule;

namespace {

QPointer<MainForm> theMainForm;

// A button's look for one state: pressed or not, and a tooltip naming what a click will do.
struct Look {
    int16_t state;
    bool pressed;
    const char* tooltip;
};

// Any other power state (unknown, or a value the projector should not report) keeps the look.
constexpr Look kPowerLooks[] = {
    {1, true, "Power Off"},
    {2, false, "Cool down"},
    {0, false, "Power On"},
};

void Apply(ToolbarButton* button, const Look& look) {
    button->setPressed(look.pressed);
    button->setToolTip(QString::fromLatin1(look.tooltip));
}

// Blank and mute: pressed only when known to be on.
void ApplySwitch(ToolbarButton* button, int16_t state, const char* onTip, const char* offTip) {
    if (button == nullptr) return;
    Apply(button, state == 1 ? Look{1, true, onTip} : Look{0, false, offTip});
}

// The dialogs a toolbar button opens; each is created afresh and gone when it has closed.
template <typename Form>
void RunModal(QWidget* owner) {
    QPointer<Form> form = new Form(owner);
    form->exec();
    delete form;
}

}  // namespace

struct MainForm::ToolbarRow {
    const char* key;  // nullptr: a separator, always there
    bool* shown;
    void (MainForm::*click)(const ToolbarRow&);
    int16_t inputCode;
    const char* failure;
};

// Left to right.
const MainForm::ToolbarRow MainForm::kToolbarRows[] = {
    {"Configuration", &ShowConfigurationButton, &MainForm::configurationClicked, -1, nullptr},
    {nullptr, nullptr, nullptr, -1, nullptr},
    {"Power", &ShowPowerButton, &MainForm::powerClicked, -1, nullptr},
    {"M1-D", &ShowM1DButton, &MainForm::inputClicked, 3, "Input change (M1-D) Error!!"},
    {"RGB", &ShowRGBButton, &MainForm::inputClicked, 0, "Input change (RGB) Error!!"},
    {"BNC", &ShowBNCButton, &MainForm::inputClicked, 4, "Input change (BNC) Error!!"},
    {"Component", &ShowComponentButton, &MainForm::inputClicked, 5,
     "Input change (Component) Error!!"},
    {"S-Video", &ShowSVideoButton, &MainForm::inputClicked, 2, "Input change (S-Video) Error!!"},
    {"Video", &ShowVideoButton, &MainForm::inputClicked, 1, "Input change (Video) Error!!"},
    {"Blank", &ShowBlankButton, &MainForm::blankClicked, -1, nullptr},
    {"Mute", &ShowMuteButton, &MainForm::muteClicked, -1, nullptr},
    {"Advanced", &ShowAdvancedButton, &MainForm::advancedClicked, -1, nullptr},
    {nullptr, nullptr, nullptr, -1, nullptr},
    {"About", &ShowHelpButton, &MainForm::aboutClicked, -1, nullptr},
};

MainForm* MainForm::instance() {
    if (theMainForm.isNull()) theMainForm = new MainForm();
    return theMainForm;
}

MainForm::MainForm() : QWidget(nullptr, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kAppTitle);
    setWindowIcon(QIcon(QStringLiteral(":/varnex.svg")));
    createToolBar();
    createPopupMenu();
    createTrayIcon();
    buildToolbar();
    ExitRequested = false;
    addTrayIcon();
    Define::SetClosingEndsProgram([](const QWidget* window) {
        return window == theMainForm &&
               (theMainForm->ExitRequested || !QSystemTrayIcon::isSystemTrayAvailable());
    });
    // Until a window is shown over it, the main window stands where a new window would: in the
    // middle of the screen.
    move(CentredOn(QRect(screen()->availableGeometry().center(), QSize(0, 0)), size(),
                   screen()->availableGeometry()));
}

MainForm::~MainForm() = default;

void MainForm::createToolBar() {
    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setIconSize(QSize(24, 24));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    Toolbar1->setContextMenuPolicy(Qt::PreventContextMenu);
}

void MainForm::createPopupMenu() {
    mnuPopup = new QMenu(QStringLiteral("PopupMenu"), this);
    mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    menuShowHide = mnuPopup->addAction(QStringLiteral("&Show"), this, &MainForm::showHideChosen);
    menuShowHide->setObjectName(QStringLiteral("menuShowHide"));
    menuExit = mnuPopup->addAction(QStringLiteral("&Exit"), this, &MainForm::exitChosen);
    menuExit->setObjectName(QStringLiteral("menuExit"));
    // Choosing it only closes the menu.
    menuCancel = mnuPopup->addAction(QStringLiteral("&Cancel"));
    menuCancel->setObjectName(QStringLiteral("menuCancel"));
    connect(mnuPopup, &QMenu::aboutToShow, this, &MainForm::prepareTrayMenu);
}

void MainForm::createTrayIcon() {
    TrayIcon = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setToolTip(kAppTitle);
    TrayIcon->setContextMenu(mnuPopup);
    connect(TrayIcon, &QSystemTrayIcon::activated, this, &MainForm::trayActivated);
}

void MainForm::addTrayIcon() { TrayIcon->show(); }

void MainForm::removeTrayIcon() { TrayIcon->hide(); }

void MainForm::clearToolbar() {
    const QList<QAction*> actions = Toolbar1->actions();
    for (QAction* action : actions) {
        Toolbar1->removeAction(action);
        // The toolbar is rebuilt from inside a button's click (the configuration dialog), so
        // that button must outlive its click.
        action->deleteLater();
    }
}

void MainForm::buildToolbar() {
    clearToolbar();
    for (const ToolbarRow& row : kToolbarRows) {
        if (row.key == nullptr) {
            Toolbar1->addSeparator();
            continue;
        }
        if (!*row.shown) continue;
        auto* button = new ToolbarButton(QString::fromLatin1(row.key), Toolbar1);
        connect(button, &QToolButton::clicked, this, [this, &row] { (this->*row.click)(row); });
        Toolbar1->addWidget(button);
    }
    // The toolbar fills the window's client area exactly; the frame around it is the window
    // system's.
    const QSize size = Toolbar1->sizeHint();
    Toolbar1->setGeometry(QRect(QPoint(0, 0), size));
    setFixedSize(size);
}

ToolbarButton* MainForm::button(const QString& key) const {
    const QList<QAction*> actions = Toolbar1->actions();
    for (QAction* action : actions) {
        QWidget* widget = Toolbar1->widgetForAction(action);
        if (widget != nullptr && widget->objectName() == key) {
            return qobject_cast<ToolbarButton*>(widget);
        }
    }
    return nullptr;
}

void MainForm::refreshPowerButton() {
    ToolbarButton* power = button(QStringLiteral("Power"));
    if (power == nullptr) return;
    for (const Look& look : kPowerLooks) {
        if (look.state == PowerState) Apply(power, look);
    }
}

void MainForm::refreshInputButtons() {
    for (const ToolbarRow& row : kToolbarRows) {
        if (row.click != &MainForm::inputClicked) continue;
        if (ToolbarButton* input = button(QString::fromLatin1(row.key))) {
            input->setPressed(InputState == row.inputCode);
        }
    }
}

void MainForm::refreshBlankButton() {
    ApplySwitch(button(QStringLiteral("Blank")), BlankState, "Blank Off", "Blank On");
}

void MainForm::refreshMuteButton() {
    ApplySwitch(button(QStringLiteral("Mute")), MuteState, "Mute Off", "Mute On");
}

void MainForm::refreshToolbar() {
    refreshPowerButton();
    refreshInputButtons();
    refreshBlankButton();
    refreshMuteButton();
    Toolbar1->update();
}

void MainForm::configurationClicked(const ToolbarRow&) {
    Timers::instance().StatusCheckTimer->stop();
    StatusPollBusy = false;
    RunModal<ConfigForm>(this);
}

void MainForm::powerClicked(const ToolbarRow&) {
    QTimer* poll = Timers::instance().StatusCheckTimer;
    switch (PowerState) {
        case 0:
            poll->stop();
            StatusPollBusy = false;
            if (Define::ZV_SetPower(1) != 0) {
                PowerState = 1;
                PowerOnWaiting = true;
                WaitForm::showWaiting();
                setEnabled(false);
            } else {
                ShowErrorBox(this, QStringLiteral("Power On Error!!"));
            }
            RefreshToolbar();
            StatusPollBusy = false;
            poll->start();
            break;
        case 1:
            if (Define::ZV_SetPower(0) != 0) {
                PowerState = 2;
            } else {
                ShowErrorBox(this, QStringLiteral("Power Off Error!!"));
            }
            RefreshToolbar();
            break;
        default:  // cooling down or unknown: the projector would not take it
            break;
    }
}

void MainForm::inputClicked(const ToolbarRow& row) {
    if (InputState != row.inputCode) {
        if (Define::ZV_SetInputSource(row.inputCode) != 0) {
            InputState = row.inputCode;
        } else {
            ShowErrorBox(this, QString::fromLatin1(row.failure));
        }
    }
    RefreshToolbar();
}

void MainForm::toggle(int16_t& state, int32_t (*send)(int32_t), const char* onError,
                      const char* offError) {
    if (state != 0 && state != 1) return;
    const int16_t wanted = state == 0 ? 1 : 0;
    if (send(wanted) != 0) {
        state = wanted;
    } else {
        ShowErrorBox(this, QString::fromLatin1(wanted == 1 ? onError : offError));
    }
    RefreshToolbar();
}

void MainForm::blankClicked(const ToolbarRow&) {
    toggle(BlankState, &Define::ZV_SetBlank, "Blank On Error!!", "Blank Off Error!!");
}

void MainForm::muteClicked(const ToolbarRow&) {
    toggle(MuteState, &Define::ZV_SetMute, "Mute On Error!!", "Mute Off Error!!");
}

void MainForm::advancedClicked(const ToolbarRow&) {
    Timers::instance().StatusCheckTimer->stop();
    StatusPollBusy = false;
    RunModal<DetailsForm>(this);
}

void MainForm::aboutClicked(const ToolbarRow&) { RunModal<AboutForm>(this); }

void MainForm::trayActivated(QSystemTrayIcon::ActivationReason reason) {
    // The right button's reaction runs as the menu is about to show.
    if (reason == QSystemTrayIcon::Trigger) bringToFront();
}

void MainForm::prepareTrayMenu() {
    menuShowHide->setText(isVisible() ? QStringLiteral("&Hide") : QStringLiteral("&Show"));
    const ConfigForm* config = ConfigForm::current();
    menuShowHide->setEnabled(config == nullptr || !config->isVisible());
    bringToFront();
}

void MainForm::bringToFront() {
    if (isVisible()) {
        raise();
        activateWindow();
    }
    if (WaitForm* wait = WaitForm::current(); wait != nullptr && wait->isVisible()) {
        wait->raise();
        wait->activateWindow();
    }
}

void MainForm::showHideChosen() {
    if (menuShowHide->text() == QLatin1String("&Hide")) {
        hide();
    } else {
        show();
    }
}

void MainForm::exitChosen() {
    ExitRequested = true;
    // Closes the open dialogs and, when it is shown, this window. During a library call the
    // windows close only when it is over (their closes wait), so the program ends here all the
    // same: the call is not waited for.
    QApplication::closeAllWindows();
    endProgram();
}

void MainForm::closeEvent(QCloseEvent* event) {
    if (!ExitRequested && QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
        event->ignore();
        return;
    }
    // Without a notification area a hidden window could never be shown again, so closing it
    // ends the program as "&Exit" does.
    if (!ExitRequested) {
        ExitRequested = true;
        QApplication::closeAllWindows();
    }
    endProgram();
    event->accept();
}

void MainForm::endProgram() {
    if (ending_) return;
    ending_ = true;
    EndProgram();
}
