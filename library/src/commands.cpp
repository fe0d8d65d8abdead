// The exported command functions. Each is one line over four helpers; the functions
// themselves are generated from the rows of catalogue.def.
#include "connection.h"
#include "frame.h"
#include "zolvane.h"

namespace zolvane {
namespace {

int32_t Run(bool isGet, uint32_t action, uint16_t type, uint32_t value, uint16_t* valueOut) {
    uint8_t frame[kFrameLength];
    BuildCommandFrame(action, type, value, frame);
    return ExchangeCommand(isGet, frame, kFrameLength, valueOut) == ResultOk ? 1 : 0;
}

int32_t Get(uint16_t type, uint16_t* value) {
    if (value == nullptr) return 0;  // nowhere to put the answer: send nothing
    return Run(true, ActionGet, type, 0, value);
}

int32_t Set(uint16_t type, int32_t value) {
    return Run(false, ActionSet, type, static_cast<uint32_t>(value), nullptr);
}

int32_t Step(uint32_t action, uint16_t type) { return Run(false, action, type, 0, nullptr); }

int32_t Execute(uint16_t type) { return Run(false, ActionExecute, type, 0, nullptr); }

}  // namespace
}  // namespace zolvane

using namespace zolvane;

extern "C" ZV_API int32_t ZV_CALL ZV_GetCommand(int32_t action, int32_t type, int32_t value,
                                                uint8_t* frame, int32_t frameSize) {
    if (frame == nullptr || frameSize != static_cast<int32_t>(kFrameLength)) return 0;
    uint8_t built[kFrameLength];
    BuildCommandFrame(static_cast<uint32_t>(action), static_cast<uint32_t>(type),
                      static_cast<uint32_t>(value), built);
    for (std::size_t i = 0; i < kFrameLength; ++i) frame[i] = built[i];
    return 1;
}

// clang-format off
#define ZV_IF_Y(...) __VA_ARGS__
#define ZV_IF_N(...)
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label)                    \
    ZV_IF_##get(extern "C" ZV_API int32_t ZV_CALL ZV_Get##name(uint16_t* value) {             \
        return Get(type, value);                                                              \
    })                                                                                        \
    ZV_IF_##set(extern "C" ZV_API int32_t ZV_CALL ZV_Set##name(int32_t value) {               \
        return Set(type, value);                                                              \
    })                                                                                        \
    ZV_IF_##inc(extern "C" ZV_API int32_t ZV_CALL ZV_Increment##name() {                      \
        return Step(ActionIncrement, type);                                                   \
    })                                                                                        \
    ZV_IF_##dec(extern "C" ZV_API int32_t ZV_CALL ZV_Decrement##name() {                      \
        return Step(ActionDecrement, type);                                                   \
    })                                                                                        \
    ZV_IF_##reset(extern "C" ZV_API int32_t ZV_CALL ZV_Reset##name() {                        \
        return Execute(resetType);                                                            \
    })
#define ZV_EXECUTE(name, type, label) \
    extern "C" ZV_API int32_t ZV_CALL ZV_Execute##name() { return Execute(type); }

#include "catalogue.def"
// clang-format on
