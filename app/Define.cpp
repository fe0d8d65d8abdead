#include "Define.h"

#include <dlfcn.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "LibraryCall.h"

namespace Define {
namespace {

constexpr const char* kLibraryName = "libzolvane.so.1";

[[noreturn]] void Fail(const QString& what, const char* reason) {
    const QString text =
        QStringLiteral("%1\n\n%2").arg(what, QString::fromLocal8Bit(reason ? reason : ""));
    std::fprintf(stderr, "varnex: %s\n", text.toLocal8Bit().constData());
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QMessageBox::critical(nullptr, QStringLiteral("Lumeris"), text);
    }
    std::exit(EXIT_FAILURE);
}

void* Library() {
    static void* handle = [] {
        void* h = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) {
            Fail(
                QStringLiteral("The library %1 cannot be loaded.").arg(QLatin1String(kLibraryName)),
                ::dlerror());
        }
        return h;
    }();
    return handle;
}

template <typename Function>
Function Resolve(const char* name) {
    void* library = Library();
    ::dlerror();
    void* address = ::dlsym(library, name);
    if (address == nullptr) {
        Fail(QStringLiteral("The function %1 cannot be found in %2.")
                 .arg(QLatin1String(name), QLatin1String(kLibraryName)),
             ::dlerror());
    }
    return reinterpret_cast<Function>(address);
}

}  // namespace

const char* LibraryName() { return kLibraryName; }

int32_t ZV_SetConnection(int32_t type, const char* string1, const char* string2) {
    static const auto function =
        Resolve<int32_t (*)(int32_t, const char*, const char*)>("ZV_SetConnection");
    return RunLibraryCall([&] { return function(type, string1, string2); });
}

// clang-format off
#define ZV_BIND(Signature, exported, ...)                                  \
    {                                                                      \
        static const auto function = Resolve<Signature>(exported);        \
        return RunLibraryCall([&] { return function(__VA_ARGS__); });      \
    }
#define ZV_DEFINE_Y(...) __VA_ARGS__
#define ZV_DEFINE_N(...)
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label)                    \
    ZV_DEFINE_##get(int32_t ZV_Get##name(uint16_t* value)                                     \
                        ZV_BIND(GetFunction, "ZV_Get" #name, value))                          \
    ZV_DEFINE_##set(int32_t ZV_Set##name(int32_t value)                                       \
                        ZV_BIND(SetFunction, "ZV_Set" #name, value))                          \
    ZV_DEFINE_##inc(int32_t ZV_Increment##name() ZV_BIND(StepFunction, "ZV_Increment" #name)) \
    ZV_DEFINE_##dec(int32_t ZV_Decrement##name() ZV_BIND(StepFunction, "ZV_Decrement" #name)) \
    ZV_DEFINE_##reset(int32_t ZV_Reset##name() ZV_BIND(StepFunction, "ZV_Reset" #name))
#define ZV_EXECUTE(name, type, label) \
    int32_t ZV_Execute##name() ZV_BIND(StepFunction, "ZV_Execute" #name)
#include "catalogue.def"
// clang-format on

}  // namespace Define
