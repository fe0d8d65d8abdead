#include "MainModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMargins>
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

namespace {

QMargins FrameOf(const QWidget* window) {
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

// Places w, whose frame is taken to be frame wide, by its outer size.
void PlaceWithFrame(QWidget* w, const QMargins& frame) {
    const MainForm* main = MainForm::instance();
    w->move(CentredOn(main->frameGeometry(), w->size().grownBy(frame),
                      main->screen()->availableGeometry()));
}

// The window system tells a window's frame only once the window is shown. Until then the main
// window's frame stands in for it; when the window's own turns out different, the window is
// placed again with it, once, so that its title bar does not overhang the screen's edge.
class PlaceAgainWithFrame : public QObject {
public:
    PlaceAgainWithFrame(QWidget* w, const QMargins& guess) : QObject(w), guess_(guess) {
        w->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Show && type != QEvent::Move && type != QEvent::Resize) return false;
        auto* w = static_cast<QWidget*>(watched);
        const QMargins frame = FrameOf(w);
        if (!w->isVisible() || frame.isNull()) return false;
        w->removeEventFilter(this);
        deleteLater();
        if (frame != guess_) PlaceWithFrame(w, frame);
        return false;
    }

private:
    QMargins guess_;
};

}  // namespace

void PositionForm(QWidget* w) {
    const QMargins guess = w->isVisible() ? FrameOf(w) : FrameOf(MainForm::instance());
    PlaceWithFrame(w, guess);
    if (!w->isVisible()) new PlaceAgainWithFrame(w, guess);
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
