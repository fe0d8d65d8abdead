// The main window on a projector that keeps the status poll's first query waiting; 300 ms into
// the wait the user ends the program: "menu" clicks "&Exit" in the notification icon's menu,
// "closebox" closes the main window as its close box does. Prints its process number, whether
// a notification area exists, "ending" as it acts and whether the icon is still shown after.
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "MainModule.h"
#include "windows/MainForm.h"
#include "windows/Timers.h"

namespace {

void Say(const char* text, long long value) {
    std::printf("%s %lld\n", text, value);
    std::fflush(stdout);
}

// A plain object timer keeps running during the call, as the window system's input does.
class User : public QObject {
public:
    explicit User(bool byMenu) : byMenu_(byMenu) { startTimer(100); }

protected:
    void timerEvent(QTimerEvent*) override {
        MainForm* main = MainForm::instance();
        QMenu* menu = main->mnuPopup;
        if (++ticks_ == 3) {
            Say("ending", 0);
            if (byMenu_) return menu->popup(main->geometry().center());
            main->windowHandle()->close();  // what the window system does for the close box
        } else if (ticks_ == 4 && byMenu_) {
            QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {},
                              menu->actionGeometry(main->menuExit).center());
        } else {
            return;
        }
        Say("icon", main->TrayIcon->isVisible());
    }

private:
    bool byMenu_;
    int ticks_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    app.setQuitOnLastWindowClosed(false);
    Say("pid", QCoreApplication::applicationPid());
    // A notification area started just before may take a moment to claim its place.
    for (int i = 0; i < 30 && !QSystemTrayIcon::isSystemTrayAvailable(); ++i) QTest::qWait(100);
    Say("tray", QSystemTrayIcon::isSystemTrayAvailable());

    MainModule::ConnectionType = 2;
    MainModule::TcpAddress = QStringLiteral("127.0.0.1");
    MainModule::TcpPortNo = QString::fromLatin1(argv[1]);
    MainModule::ApplyConnection();
    MainForm::instance()->show();
    Timers::instance().StatusCheckTimer->start(0);
    User user(qstrcmp(argv[2], "menu") == 0);
    return app.exec();
}
