// The program's binding to the projector library and its platform services. The library is
// loaded by name at the first call of any of these functions, and each function is resolved by
// its exported name at its own first call; the address is kept for every later call. A missing
// library or function ends the program with a message that names it.
#pragma once

#include <cstdint>

namespace Define {

// Link kind 1 = serial (port, ""), 2 = network (address, port number text).
int32_t ZV_SetConnection(int32_t type, const char* string1, const char* string2);

using GetFunction = int32_t (*)(uint16_t* value);
using SetFunction = int32_t (*)(int32_t value);
using StepFunction = int32_t (*)();

#define ZV_DECLARE_Y(...) __VA_ARGS__;
#define ZV_DECLARE_N(...)
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label) \
    ZV_DECLARE_##get(int32_t ZV_Get##name(uint16_t* value))                 \
        ZV_DECLARE_##set(int32_t ZV_Set##name(int32_t value))               \
            ZV_DECLARE_##inc(int32_t ZV_Increment##name())                  \
                ZV_DECLARE_##dec(int32_t ZV_Decrement##name())              \
                    ZV_DECLARE_##reset(int32_t ZV_Reset##name())
#define ZV_EXECUTE(name, type, label) int32_t ZV_Execute##name();
#include "catalogue.def"
#undef ZV_SETTING
#undef ZV_EXECUTE
#undef ZV_DECLARE_Y
#undef ZV_DECLARE_N

// The library file the program loads, and where its functions come from; for messages.
const char* LibraryName();

}  // namespace Define
