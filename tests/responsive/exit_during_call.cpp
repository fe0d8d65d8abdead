// Starts a command to a projector that never answers and, 200 ms into the wait, ends the
// program with status 3 the way the notification menu's "&Exit" does.
#include <QApplication>
#include <QByteArray>
#include <QTimer>

#include "Define.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    Define::ZV_SetConnection(2, "127.0.0.1", argv[1]);
    QTimer::singleShot(0, [] {
        // A plain object timer keeps running during the call; the program's own QTimers wait.
        struct Ender : QObject {
            Ender() { startTimer(200); }
            void timerEvent(QTimerEvent*) override { QCoreApplication::exit(3); }
        };
        new Ender;
        uint16_t value;
        Define::ZV_GetPower(&value);
        QCoreApplication::exit(4);  // reached only if the call was waited for
    });
    return app.exec();
}
