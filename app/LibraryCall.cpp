#include "LibraryCall.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <QWidget>
#include <QWindow>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace Define {
namespace {

// One thread for all calls: the library serialises them anyway. Never destroyed, because a
// call may still be running when the program ends.
class Worker {
public:
    static Worker& instance() {
        static Worker* worker = new Worker;
        return *worker;
    }

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            job_ = std::move(job);
        }
        wake_.notify_one();
    }

private:
    Worker() {
        std::thread([this] { run(); }).detach();
    }

    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return bool(job_); });
                job = std::exchange(job_, nullptr);
            }
            job();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> job_;
};

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

std::function<bool(const QWidget*)> tClosingEndsProgram;

const QWidget* WidgetOf(QObject* receiver) {
    if (const auto* window = qobject_cast<QWindow*>(receiver)) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->windowHandle() == window) return top;
        }
        return nullptr;
    }
    return qobject_cast<QWidget*>(receiver);
}

// The pop-up menu and the icon of the notification area answer during a call, and so does the
// close of a window whose closing ends the program: ending does not wait for the projector.
bool AnswersDuringCall(QObject* receiver, QEvent::Type type) {
    const QWidget* widget = WidgetOf(receiver);
    if (widget == nullptr) return false;
    const QWidget* top = widget->window();
    if (type == QEvent::Close) return tClosingEndsProgram && tClosingEndsProgram(top);
    return qobject_cast<const QMenu*>(top) != nullptr ||
           QByteArray(top->metaObject()->className()).contains("SystemTray");
}

bool IsProgramTimer(QObject* receiver) {
    return qobject_cast<QTimer*>(receiver) != nullptr ||
           qstrcmp(receiver->metaObject()->className(), "QSingleShotTimer") == 0;
}

class HoldBack : public QObject {
public:
    HoldBack() { qApp->installEventFilter(this); }
    ~HoldBack() override { qApp->removeEventFilter(this); }

    // Hands everything held back to the event queue, in the order it came.
    void release() {
        qApp->removeEventFilter(this);
        for (auto& [receiver, event] : input_) {
            if (receiver) QCoreApplication::postEvent(receiver, event.release());
        }
        for (const auto& [receiver, id] : timers_) {
            if (receiver) QCoreApplication::postEvent(receiver, new QTimerEvent(id));
        }
        input_.clear();
        timers_.clear();
    }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() == QEvent::Timer && IsProgramTimer(receiver)) {
            const int id = static_cast<QTimerEvent*>(event)->timerId();
            for (const auto& [held, heldId] : timers_) {
                if (held == receiver && heldId == id) return true;
            }
            timers_.emplace_back(receiver, id);
            return true;
        }
        // Held at the window, where the toolkit first sees it, so that it is routed to the
        // right widget again when it is handed back.
        if (IsUserInput(event->type()) && qobject_cast<QWindow*>(receiver) != nullptr &&
            !AnswersDuringCall(receiver, event->type())) {
            input_.emplace_back(receiver, std::unique_ptr<QEvent>(event->clone()));
            // A close held back has not closed anything yet: whoever asked for it (closing
            // every window, say) must not take the window for closed and ask again.
            if (event->type() == QEvent::Close) event->ignore();
            return true;
        }
        return false;
    }

private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> input_;
    std::vector<std::pair<QPointer<QObject>, int>> timers_;
};

constexpr int kCallFinished = 0x2A5A;
bool tWaiting = false;

}  // namespace

void SetClosingEndsProgram(std::function<bool(const QWidget*)> endsProgram) {
    tClosingEndsProgram = std::move(endsProgram);
}

int32_t RunLibraryCall(const std::function<int32_t()>& call) {
    const bool onUserInterfaceThread = qobject_cast<QApplication*>(QCoreApplication::instance()) &&
                                       QThread::currentThread() == qApp->thread();
    if (!onUserInterfaceThread || tWaiting) return call();

    struct Shared {
        std::mutex mutex;
        bool done = false;
        int32_t result = 0;
    };
    auto shared = std::make_shared<Shared>();
    QEventLoop loop;
    tWaiting = true;
    HoldBack holdBack;
    // The loop outlives this job's use of it: the waiting side leaves only after it has seen
    // `done`, which is set under the same lock as the wake-up is posted.
    Worker::instance().post([shared, call, loop = &loop] {
        const int32_t result = call();
        std::lock_guard lock(shared->mutex);
        shared->result = result;
        shared->done = true;
        QMetaObject::invokeMethod(
            loop, [loop] { loop->exit(kCallFinished); }, Qt::QueuedConnection);
    });
    for (;;) {
        const int ended = loop.exec();
        std::lock_guard lock(shared->mutex);
        if (shared->done) break;
        // The program was told to end (its event loops were stopped) while the projector is
        // still being waited for: end now, as a blocked program would have after the call.
        if (ended != kCallFinished) std::_Exit(ended == -1 ? 0 : ended);
    }
    tWaiting = false;
    holdBack.release();
    return shared->result;
}

}  // namespace Define
