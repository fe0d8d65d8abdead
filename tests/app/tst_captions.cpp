// The program's own words in the configuration dialog, the About, main and wait windows and
// the boxes of refused input buttons: one row per control, each looked at in the window opened
// the way the program opens it.
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "AppTest.h"
#include "MainModule.h"
#include "ShownText.h"
#include "windows/ConfigForm.h"
#include "windows/MainForm.h"
#include "windows/ToolbarButton.h"
#include "windows/WaitForm.h"

using namespace MainModule;

namespace {

struct Shown {
    const char* name;
    const char* text;  // entries joined by "|"
};

QString Ports() {
    QStringList names;
    for (int n = 1; n <= 30; ++n) names << QStringLiteral("COM%1").arg(n);
    return names.join(QLatin1Char('|'));
}

// clang-format off
const Shown kConfiguration[] = {
    {"ConfigForm", "Configuration"},
    {"SSTab1", "Connection|Show Buttons"},
    {"optSerial", "&Serial"},
    {"cmbSerial", nullptr},  // Ports()
    {"optTCP", "&TCP"},
    {"lblIPAddress", "&IP Address"},
    {"Label1", "&PortNo"},
    {"txtPortNo", "23"},
    {"chkPower", "&Power"},
    {"chkM1D", "&M1-D"},
    {"chkRGB", "&RGB"},
    {"chkBNC", "&BNC"},
    {"chkComponent", "&Component"},
    {"chkSVideo", "&S-Video"},
    {"chkVideo", "&Video"},
    {"chkBlank", "B&lank"},
    {"chkMute", "M&ute"},
    {"cmdOK", "OK"},
    {"cmdCancel", "Cancel"},
};

const Shown kAbout[] = {
    {"AboutForm", "About Lumeris"},
    {"Image1", "picture 32x32"},
    {"Label1", "Lumeris Application"},
    {"Label2", "Ver.1.0.0.3"},
    {"cmdAboutOK", "OK"},
};

// Toolbar buttons show only their picture; what they say is their tooltip.
const Shown kMain[] = {
    {"MainForm", "Lumeris"},
    {"Configuration", "Configuration"},
    {"Power", "Power"},
    {"M1-D", "M1-D"},
    {"RGB", "RGB"},
    {"BNC", "BNC"},
    {"Component", "Component"},
    {"S-Video", "S-Video"},
    {"Video", "Video"},
    {"Blank", "Blank"},
    {"Mute", "Mute"},
    {"Advanced", "Advanced"},
    {"About", "About"},
    {"TrayIcon", "Lumeris"},
    {"mnuPopup", "&Hide|&Exit|&Cancel"},  // as the icon's menu pops up over the shown window
};

// What power-on from the toolbar shows until the projector answers.
const Shown kWait[] = {
    {"WaitForm", "Lumeris"},
    {"Label1", "Please wait ..."},
};

// The box that a refused input button shows.
const Shown kInputRefused[] = {
    {"M1-D", "Input change (M1-D) Error!!"},
    {"RGB", "Input change (RGB) Error!!"},
    {"BNC", "Input change (BNC) Error!!"},
    {"Component", "Input change (Component) Error!!"},
    {"S-Video", "Input change (S-Video) Error!!"},
    {"Video", "Input change (Video) Error!!"},
};
// clang-format on

template <std::size_t N>
void AddRows(const Shown (&rows)[N]) {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    for (const Shown& row : rows) {
        QTest::newRow(row.name) << QString::fromLatin1(row.name)
                                << (row.text ? QString::fromUtf8(row.text) : Ports());
    }
}

QObject* Named(QWidget* window, const QString& name) {
    return window->objectName() == name ? window : window->findChild<QObject*>(name);
}

}  // namespace

class CaptionsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        apptest::ResetProgram();
        SettingsFile = dir_.filePath(QStringLiteral("Varnix.txt"));
    }
    void cleanup() { apptest::ResetProgram(); }

    void configurationDialog_data() { AddRows(kConfiguration); }
    void configurationDialog() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        StartUp();
        ConfigForm* dialog = ConfigForm::current();
        QVERIFY(dialog && dialog->isVisible());
        auto* control = qobject_cast<QWidget*>(Named(dialog, name));
        QVERIFY(control);
        for (int page = 0; page < dialog->SSTab1->count(); ++page) {
            if (!dialog->SSTab1->widget(page)->isAncestorOf(control)) continue;
            QTabBar* tabs = dialog->SSTab1->tabBar();
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
            QCOMPARE(dialog->SSTab1->currentIndex(), page);
        }
        QVERIFY2(control->isVisible(), "not on the page shown");
        QVERIFY2(!shown::CutOff(control), "text cut off");
        QString shown = shown::Text(control);
        // Serial adapters plugged into this machine follow the thirty COM ports.
        if (control == dialog->cmbSerial) shown = shown.section(QLatin1Char('|'), 0, 29);
        QCOMPARE(shown, text);
    }

    void aboutWindow_data() { AddRows(kAbout); }
    void aboutWindow() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        MainForm* main = MainForm::instance();
        main->show();
        QString shown = QStringLiteral("(no window)");
        apptest::ModalHand hand;
        hand.onOtherModal = [&](QWidget* modal) {
            if (auto* control = qobject_cast<QWidget*>(Named(modal, name))) {
                shown = (shown::CutOff(control) ? "(cut off) " : "") + shown::Text(control);
            }
            modal->close();
        };
        ToolbarButton* about = main->button(QStringLiteral("About"));
        QVERIFY(about);
        QTest::mouseClick(about, Qt::LeftButton);
        QCOMPARE(shown, text);
    }

    void mainWindow_data() { AddRows(kMain); }
    void mainWindow() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        MainForm* main = MainForm::instance();
        main->show();
        QObject* control = Named(main, name);
        QVERIFY(control);
        QString shown = shown::Text(control);
        if (auto* button = qobject_cast<ToolbarButton*>(control)) {
            QVERIFY(button->isVisible());
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
            QVERIFY(!button->icon().isNull());
            shown = button->toolTip();
        } else if (auto* icon = qobject_cast<QSystemTrayIcon*>(control)) {
            shown = icon->toolTip();
        } else if (auto* menu = qobject_cast<QMenu*>(control)) {
            menu->popup(main->geometry().center());
            QTRY_VERIFY(menu->isVisible());
            shown = shown::Text(menu);
            menu->close();
        }
        QCOMPARE(shown, text);
    }

    void waitWindow_data() { AddRows(kWait); }
    void waitWindow() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        apptest::Projector projector;
        QVERIFY(projector.started());
        projector.connectProgram();
        projector->setPower(zolvane::emulator::PowerState::Off);
        MainForm* main = MainForm::instance();
        main->show();
        QTest::mouseClick(main->button(QStringLiteral("Power")), Qt::LeftButton);
        WaitForm* wait = WaitForm::current();
        QVERIFY(wait && wait->isVisible());
        auto* control = qobject_cast<QWidget*>(Named(wait, name));
        QVERIFY(control);
        QVERIFY2(!shown::CutOff(control), "text cut off");
        QCOMPARE(shown::Text(control), text);
    }

    void inputRefusedBox_data() { AddRows(kInputRefused); }
    void inputRefusedBox() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        apptest::Projector projector;
        QVERIFY(projector.started());
        projector.connectProgram();
        projector->refuseSet(0x2000, true);
        InputState = -1;  // so that every button sends
        MainForm* main = MainForm::instance();
        main->show();
        ToolbarButton* button = main->button(name);
        QVERIFY(button);
        apptest::ModalHand hand;
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(hand.seen.size(), 1);
        QCOMPARE(hand.seen[0].caption + QLatin1Char(' ') + hand.seen[0].text, "Lumeris " + text);
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(CaptionsTest)
#include "tst_captions.moc"
