#include "MainModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <cmath>

#include "windows/ConfigForm.h"
#include "windows/MainForm.h"

namespace MainModule {

void StartUp() {
    PowerOnWaiting = false;
    for (bool* flag : {&SetupUpdating, &MainUpdating, &Picture1Updating, &Picture2Updating,
                       &InputUpdating, &AutoUpdating, &ScreenUpdating, &OptionUpdating}) {
        *flag = false;
    }
    LoadSettings();
    (new ConfigForm())->show();
}

void EndProgram() {
    RemoveTrayIcon();
    QCoreApplication::exit(0);
}

void Delay(int ms) {
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } while (clock.elapsed() <= ms);
}

void PositionForm(QWidget* w) {
    const MainForm* main = MainForm::instance();
    w->move(CentredOn(main->frameGeometry(), w->frameGeometry().size(),
                      main->screen()->availableGeometry()));
}

QPoint CentredOn(const QRect& reference, const QSize& size, const QRect& screen) {
    const auto place = [](int referenceStart, int referenceLength, int length, int screenStart,
                          int screenLength) {
        int start = referenceStart + int(std::lround((referenceLength - length) / 2.0));
        if (start < screenStart) {
            start = screenStart;
        } else if (start + length > screenStart + screenLength) {
            start = screenStart + screenLength - length;
        }
        return start;
    };
    return {place(reference.x(), reference.width(), size.width(), screen.x(), screen.width()),
            place(reference.y(), reference.height(), size.height(), screen.y(), screen.height())};
}

void ShowErrorBox(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, kAppTitle, message, QMessageBox::Ok, parent);
    box.exec();
}

bool AskConfirmation(QWidget* parent, const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), question,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    return box.exec() == QMessageBox::Ok;
}

void BuildToolbar() { MainForm::instance()->buildToolbar(); }
void RefreshToolbar() { MainForm::instance()->refreshToolbar(); }
void AddTrayIcon() { MainForm::instance()->addTrayIcon(); }
void RemoveTrayIcon() { MainForm::instance()->removeTrayIcon(); }

}  // namespace MainModule
