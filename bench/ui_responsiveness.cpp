// How long the user-interface event loop stands still during one status poll (power, input,
// blank and mute, 10 ms apart) when the projector does not answer: once with the library called
// straight from the user-interface thread, once through the program's own binding, over TCP and
// over a pseudo-terminal. Prints the longest gap between two turns of the event loop.
#include <dlfcn.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "Define.h"
#include "MainModule.h"
#include "projector_emulator/emulator.h"

namespace emu = zolvane::emulator;

namespace {

// Notes the longest time between two of its ticks: how long the event loop did not run.
class LoopWatch : public QObject {
public:
    LoopWatch() {
        clock_.start();
        startTimer(1);
    }
    qint64 longestGapMs() const { return longest_; }

protected:
    void timerEvent(QTimerEvent*) override {
        const qint64 now = clock_.elapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }

private:
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

using Get = int32_t (*)(uint16_t*);

// The four queries of a status poll, as the main window makes them.
void Poll(const std::function<int32_t(const char*)>& get) {
    get("ZV_GetPower");
    MainModule::Delay(10);
    get("ZV_GetInputSource");
    MainModule::Delay(10);
    get("ZV_GetBlank");
    MainModule::Delay(10);
    get("ZV_GetMute");
}

qint64 Measure(const std::function<int32_t(const char*)>& get, qint64& pollMs) {
    LoopWatch watch;
    QElapsedTimer clock;
    QCoreApplication::processEvents();
    clock.start();
    Poll(get);
    pollMs = clock.elapsed();
    QCoreApplication::processEvents();
    return watch.longestGapMs();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    emu::Options options;
    options.pty = true;
    emu::Emulator projector(options);
    if (!projector.start()) return 1;
    projector.setFault({.kind = emu::FaultKind::NoReply, .onlyType = {}, .frameCount = {}});

    void* library = ::dlopen(Define::LibraryName(), RTLD_NOW);
    if (library == nullptr) return 1;
    const auto direct = [library](const char* name) {
        uint16_t value;
        return reinterpret_cast<Get>(::dlsym(library, name))(&value);
    };
    const auto binding = [](const char* name) {
        uint16_t value;
        const std::string n(name);
        if (n == "ZV_GetPower") return Define::ZV_GetPower(&value);
        if (n == "ZV_GetInputSource") return Define::ZV_GetInputSource(&value);
        if (n == "ZV_GetBlank") return Define::ZV_GetBlank(&value);
        return Define::ZV_GetMute(&value);
    };

    const QByteArray port = QByteArray::number(projector.tcpPort());
    const QByteArray device = QByteArray::fromStdString(projector.ptyPath());
    struct Link {
        const char* name;
        int32_t type;
        const char* one;
        const char* two;
    } links[] = {{"TCP", 2, "127.0.0.1", port.constData()},
                 {"serial (pseudo-terminal)", 1, device.constData(), ""}};

    std::printf("%-26s %-30s %12s %18s\n", "link", "calls", "poll (ms)", "longest stall (ms)");
    for (const Link& link : links) {
        Define::ZV_SetConnection(link.type, link.one, link.two);
        qint64 pollMs = 0;
        const qint64 blocked = Measure(direct, pollMs);
        std::printf("%-26s %-30s %12lld %18lld\n", link.name, "blocking, on the UI thread",
                    static_cast<long long>(pollMs), static_cast<long long>(blocked));
        const qint64 responsive = Measure(binding, pollMs);
        std::printf("%-26s %-30s %12lld %18lld\n", link.name, "through the program's binding",
                    static_cast<long long>(pollMs), static_cast<long long>(responsive));
    }
    projector.stop();
    return 0;
}
