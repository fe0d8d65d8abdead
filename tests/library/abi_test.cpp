// Every command export, bound by name as a calling program binds to it, against the type codes
// and actions of the protocol's command table (kept here on their own, apart from the library's
// catalogue, so that a slip in either shows), and the catalogue the library describes itself
// with against the same table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <iterator>
#include <string>
#include <string_view>

#include "projector_emulator/emulator.h"
#include "zolvane_catalogue.h"

namespace {

using namespace std::chrono_literals;
namespace emu = zolvane::emulator;

enum class Shape { Get, Set, Step };

struct Export {
    const char* name;
    Shape shape;
    uint16_t action;
    uint16_t type;
};

constexpr Export kExports[] = {
    {"ZV_GetKeystoneV", Shape::Get, 2, 0x2007},
    {"ZV_SetKeystoneV", Shape::Set, 1, 0x2007},
    {"ZV_IncrementKeystoneV", Shape::Step, 4, 0x2007},
    {"ZV_DecrementKeystoneV", Shape::Step, 5, 0x2007},
    {"ZV_ResetKeystoneV", Shape::Step, 6, 0x700C},
    {"ZV_GetKeystoneH", Shape::Get, 2, 0x200B},
    {"ZV_SetKeystoneH", Shape::Set, 1, 0x200B},
    {"ZV_IncrementKeystoneH", Shape::Step, 4, 0x200B},
    {"ZV_DecrementKeystoneH", Shape::Step, 5, 0x200B},
    {"ZV_ResetKeystoneH", Shape::Step, 6, 0x7020},
    {"ZV_GetBrightness", Shape::Get, 2, 0x2003},
    {"ZV_SetBrightness", Shape::Set, 1, 0x2003},
    {"ZV_IncrementBrightness", Shape::Step, 4, 0x2003},
    {"ZV_DecrementBrightness", Shape::Step, 5, 0x2003},
    {"ZV_ResetBrightness", Shape::Step, 6, 0x7000},
    {"ZV_GetContrast", Shape::Get, 2, 0x2004},
    {"ZV_SetContrast", Shape::Set, 1, 0x2004},
    {"ZV_IncrementContrast", Shape::Step, 4, 0x2004},
    {"ZV_DecrementContrast", Shape::Step, 5, 0x2004},
    {"ZV_ResetContrast", Shape::Step, 6, 0x7001},
    {"ZV_GetAspect", Shape::Get, 2, 0x2008},
    {"ZV_SetAspect", Shape::Set, 1, 0x2008},
    {"ZV_GetMurmelo", Shape::Get, 2, 0x3300},
    {"ZV_SetMurmelo", Shape::Set, 1, 0x3300},
    {"ZV_GetMirror", Shape::Get, 2, 0x3001},
    {"ZV_SetMirror", Shape::Set, 1, 0x3001},
    {"ZV_GetLanguage", Shape::Get, 2, 0x3005},
    {"ZV_SetLanguage", Shape::Set, 1, 0x3005},
    {"ZV_GetGamma", Shape::Get, 2, 0x30A1},
    {"ZV_SetGamma", Shape::Set, 1, 0x30A1},
    {"ZV_GetCustomGamma", Shape::Get, 2, 0x30A0},
    {"ZV_SetCustomGamma", Shape::Set, 1, 0x30A0},
    {"ZV_IncrementCustomGamma", Shape::Step, 4, 0x30A0},
    {"ZV_DecrementCustomGamma", Shape::Step, 5, 0x30A0},
    {"ZV_GetCustomColorTemp", Shape::Get, 2, 0x30B0},
    {"ZV_SetCustomColorTemp", Shape::Set, 1, 0x30B0},
    {"ZV_GetCustomUserR", Shape::Get, 2, 0x30B1},
    {"ZV_SetCustomUserR", Shape::Set, 1, 0x30B1},
    {"ZV_GetCustomUserG", Shape::Get, 2, 0x30B2},
    {"ZV_SetCustomUserG", Shape::Set, 1, 0x30B2},
    {"ZV_GetCustomUserB", Shape::Get, 2, 0x30B3},
    {"ZV_SetCustomUserB", Shape::Set, 1, 0x30B3},
    {"ZV_GetColorBalanceR", Shape::Get, 2, 0x2005},
    {"ZV_SetColorBalanceR", Shape::Set, 1, 0x2005},
    {"ZV_IncrementColorBalanceR", Shape::Step, 4, 0x2005},
    {"ZV_DecrementColorBalanceR", Shape::Step, 5, 0x2005},
    {"ZV_ResetColorBalanceR", Shape::Step, 6, 0x7005},
    {"ZV_GetColorBalanceG", Shape::Get, 2, 0x2012},
    {"ZV_SetColorBalanceG", Shape::Set, 1, 0x2012},
    {"ZV_IncrementColorBalanceG", Shape::Step, 4, 0x2012},
    {"ZV_DecrementColorBalanceG", Shape::Step, 5, 0x2012},
    {"ZV_ResetColorBalanceG", Shape::Step, 6, 0x7029},
    {"ZV_GetColorBalanceB", Shape::Get, 2, 0x2006},
    {"ZV_SetColorBalanceB", Shape::Set, 1, 0x2006},
    {"ZV_IncrementColorBalanceB", Shape::Step, 4, 0x2006},
    {"ZV_DecrementColorBalanceB", Shape::Step, 5, 0x2006},
    {"ZV_ResetColorBalanceB", Shape::Step, 6, 0x7006},
    {"ZV_GetSharpness", Shape::Get, 2, 0x2201},
    {"ZV_SetSharpness", Shape::Set, 1, 0x2201},
    {"ZV_IncrementSharpness", Shape::Step, 4, 0x2201},
    {"ZV_DecrementSharpness", Shape::Step, 5, 0x2201},
    {"ZV_ResetSharpness", Shape::Step, 6, 0x7009},
    {"ZV_GetColor", Shape::Get, 2, 0x2202},
    {"ZV_SetColor", Shape::Set, 1, 0x2202},
    {"ZV_IncrementColor", Shape::Step, 4, 0x2202},
    {"ZV_DecrementColor", Shape::Step, 5, 0x2202},
    {"ZV_ResetColor", Shape::Step, 6, 0x700A},
    {"ZV_GetTint", Shape::Get, 2, 0x2203},
    {"ZV_SetTint", Shape::Set, 1, 0x2203},
    {"ZV_IncrementTint", Shape::Step, 4, 0x2203},
    {"ZV_DecrementTint", Shape::Step, 5, 0x2203},
    {"ZV_ResetTint", Shape::Step, 6, 0x700B},
    {"ZV_GetVPosition", Shape::Get, 2, 0x2100},
    {"ZV_SetVPosition", Shape::Set, 1, 0x2100},
    {"ZV_IncrementVPosition", Shape::Step, 4, 0x2100},
    {"ZV_DecrementVPosition", Shape::Step, 5, 0x2100},
    {"ZV_ResetVPosition", Shape::Step, 6, 0x7002},
    {"ZV_GetHPosition", Shape::Get, 2, 0x2101},
    {"ZV_SetHPosition", Shape::Set, 1, 0x2101},
    {"ZV_IncrementHPosition", Shape::Step, 4, 0x2101},
    {"ZV_DecrementHPosition", Shape::Step, 5, 0x2101},
    {"ZV_ResetHPosition", Shape::Step, 6, 0x7003},
    {"ZV_GetHPhase", Shape::Get, 2, 0x2103},
    {"ZV_SetHPhase", Shape::Set, 1, 0x2103},
    {"ZV_IncrementHPhase", Shape::Step, 4, 0x2103},
    {"ZV_DecrementHPhase", Shape::Step, 5, 0x2103},
    {"ZV_GetHSize", Shape::Get, 2, 0x2102},
    {"ZV_SetHSize", Shape::Set, 1, 0x2102},
    {"ZV_IncrementHSize", Shape::Step, 4, 0x2102},
    {"ZV_DecrementHSize", Shape::Step, 5, 0x2102},
    {"ZV_ResetHSize", Shape::Step, 6, 0x7004},
    {"ZV_GetOverScan", Shape::Get, 2, 0x2209},
    {"ZV_SetOverScan", Shape::Set, 1, 0x2209},
    {"ZV_IncrementOverScan", Shape::Step, 4, 0x2209},
    {"ZV_DecrementOverScan", Shape::Step, 5, 0x2209},
    {"ZV_ResetOverScan", Shape::Step, 6, 0x7027},
    {"ZV_GetColorSpace", Shape::Get, 2, 0x2204},
    {"ZV_SetColorSpace", Shape::Set, 1, 0x2204},
    {"ZV_GetComponent", Shape::Get, 2, 0x2017},
    {"ZV_SetComponent", Shape::Set, 1, 0x2017},
    {"ZV_GetVideoFormat", Shape::Get, 2, 0x2200},
    {"ZV_SetVideoFormat", Shape::Set, 1, 0x2200},
    {"ZV_Get3DYC", Shape::Get, 2, 0x220A},
    {"ZV_Set3DYC", Shape::Set, 1, 0x220A},
    {"ZV_GetVideoNR", Shape::Get, 2, 0x2206},
    {"ZV_SetVideoNR", Shape::Set, 1, 0x2206},
    {"ZV_GetS2Aspect", Shape::Get, 2, 0x220B},
    {"ZV_SetS2Aspect", Shape::Set, 1, 0x220B},
    {"ZV_GetAutoOff", Shape::Get, 2, 0x3110},
    {"ZV_SetAutoOff", Shape::Set, 1, 0x3110},
    {"ZV_IncrementAutoOff", Shape::Step, 4, 0x3110},
    {"ZV_DecrementAutoOff", Shape::Step, 5, 0x3110},
    {"ZV_GetAutoSearch", Shape::Get, 2, 0x2016},
    {"ZV_SetAutoSearch", Shape::Set, 1, 0x2016},
    {"ZV_GetBlankColor", Shape::Get, 2, 0x3000},
    {"ZV_SetBlankColor", Shape::Set, 1, 0x3000},
    {"ZV_GetBlank", Shape::Get, 2, 0x3020},
    {"ZV_SetBlank", Shape::Set, 1, 0x3020},
    {"ZV_GetStartup", Shape::Get, 2, 0x3004},
    {"ZV_SetStartup", Shape::Set, 1, 0x3004},
    {"ZV_GetMenuPositionV", Shape::Get, 2, 0x3016},
    {"ZV_SetMenuPositionV", Shape::Set, 1, 0x3016},
    {"ZV_IncrementMenuPositionV", Shape::Step, 4, 0x3016},
    {"ZV_DecrementMenuPositionV", Shape::Step, 5, 0x3016},
    {"ZV_ResetMenuPositionV", Shape::Step, 6, 0x7044},
    {"ZV_GetMenuPositionH", Shape::Get, 2, 0x3015},
    {"ZV_SetMenuPositionH", Shape::Set, 1, 0x3015},
    {"ZV_IncrementMenuPositionH", Shape::Step, 4, 0x3015},
    {"ZV_DecrementMenuPositionH", Shape::Step, 5, 0x3015},
    {"ZV_ResetMenuPositionH", Shape::Step, 6, 0x7043},
    {"ZV_GetMessage", Shape::Get, 2, 0x3017},
    {"ZV_SetMessage", Shape::Set, 1, 0x3017},
    {"ZV_GetVolume", Shape::Get, 2, 0x2001},
    {"ZV_SetVolume", Shape::Set, 1, 0x2001},
    {"ZV_IncrementVolume", Shape::Step, 4, 0x2001},
    {"ZV_DecrementVolume", Shape::Step, 5, 0x2001},
    {"ZV_GetMute", Shape::Get, 2, 0x2002},
    {"ZV_SetMute", Shape::Set, 1, 0x2002},
    {"ZV_GetLampTime", Shape::Get, 2, 0x1090},
    {"ZV_ResetLampTime", Shape::Step, 6, 0x7030},
    {"ZV_GetFilterTime", Shape::Get, 2, 0x10A0},
    {"ZV_ResetFilterTime", Shape::Step, 6, 0x7040},
    {"ZV_GetMagnify", Shape::Get, 2, 0x3007},
    {"ZV_SetMagnify", Shape::Set, 1, 0x3007},
    {"ZV_IncrementMagnify", Shape::Step, 4, 0x3007},
    {"ZV_DecrementMagnify", Shape::Step, 5, 0x3007},
    {"ZV_GetFreeze", Shape::Get, 2, 0x3002},
    {"ZV_SetFreeze", Shape::Set, 1, 0x3002},
    {"ZV_GetPower", Shape::Get, 2, 0x6000},
    {"ZV_SetPower", Shape::Set, 1, 0x6000},
    {"ZV_GetInputSource", Shape::Get, 2, 0x2000},
    {"ZV_SetInputSource", Shape::Set, 1, 0x2000},
    {"ZV_GetErrorStatus", Shape::Get, 2, 0x6020},
    {"ZV_GetPinPSize", Shape::Get, 2, 0x2300},
    {"ZV_SetPinPSize", Shape::Set, 1, 0x2300},
    {"ZV_GetPinPPosition", Shape::Get, 2, 0x2301},
    {"ZV_SetPinPPosition", Shape::Set, 1, 0x2301},
    {"ZV_GetPinPAudioCh", Shape::Get, 2, 0x2303},
    {"ZV_SetPinPAudioCh", Shape::Set, 1, 0x2303},
    {"ZV_GetPinPInput", Shape::Get, 2, 0x2302},
    {"ZV_SetPinPInput", Shape::Set, 1, 0x2302},
    {"ZV_GetStillmarkSize", Shape::Get, 2, 0x3012},
    {"ZV_SetStillmarkSize", Shape::Set, 1, 0x3012},
    {"ZV_GetStillmarkLock", Shape::Get, 2, 0x30C0},
    {"ZV_SetStillmarkLock", Shape::Set, 1, 0x30C0},
    {"ZV_GetIRRemoteFront", Shape::Get, 2, 0x2600},
    {"ZV_SetIRRemoteFront", Shape::Set, 1, 0x2600},
    {"ZV_GetIRRemoteRear", Shape::Get, 2, 0x2601},
    {"ZV_SetIRRemoteRear", Shape::Set, 1, 0x2601},
    {"ZV_GetIRRemoteTop", Shape::Get, 2, 0x2602},
    {"ZV_SetIRRemoteTop", Shape::Set, 1, 0x2602},
    {"ZV_GetPowerUpSource", Shape::Get, 2, 0x2018},
    {"ZV_SetPowerUpSource", Shape::Set, 1, 0x2018},
    {"ZV_GetAutoAdjustEnable", Shape::Get, 2, 0x2019},
    {"ZV_SetAutoAdjustEnable", Shape::Set, 1, 0x2019},
    {"ZV_GetInternalSpeaker", Shape::Get, 2, 0x201C},
    {"ZV_SetInternalSpeaker", Shape::Set, 1, 0x201C},
    {"ZV_GetLensLock", Shape::Get, 2, 0x2410},
    {"ZV_SetLensLock", Shape::Set, 1, 0x2410},
    {"ZV_GetRemoteID", Shape::Get, 2, 0x2608},
    {"ZV_SetRemoteID", Shape::Set, 1, 0x2608},
    {"ZV_GetAutoPowerOn", Shape::Get, 2, 0x3120},
    {"ZV_SetAutoPowerOn", Shape::Set, 1, 0x3120},
    {"ZV_GetLens", Shape::Get, 2, 0x2570},
    {"ZV_SetLens", Shape::Set, 1, 0x2570},
    {"ZV_SetSlotkeepLoad", Shape::Set, 1, 0x2014},
    {"ZV_SetSlotkeepSave", Shape::Set, 1, 0x2015},
    {"ZV_ExecuteAutoAdjust", Shape::Step, 6, 0x200A},
};

class Abi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = ::dlopen(ZOLVANE_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << ::dlerror();
    }
    template <typename F>
    static F bind(const char* name) {
        return reinterpret_cast<F>(::dlsym(library_, name));
    }
    static inline void* library_ = nullptr;
};

TEST_F(Abi, TheTableHasEveryCommandExport) { EXPECT_EQ(std::size(kExports), 188u); }

// The catalogue the library describes itself with, read through its own exports, against this
// table: each export here is an operation the catalogue gives, with the same type code.
TEST_F(Abi, TheCatalogueDescribesEveryCommandExport) {
    const auto find = bind<const zv_setting* (*)(const char*)>("zv_catalogue_find");
    const auto size = bind<size_t (*)()>("zv_catalogue_size");
    const auto entry = bind<const zv_setting* (*)(size_t)>("zv_catalogue_entry");
    ASSERT_TRUE(find != nullptr && size != nullptr && entry != nullptr);
    const struct {
        std::string_view word;
        uint32_t bit;
    } kWords[] = {{"ZV_Get", ZV_OP_GET},
                  {"ZV_Set", ZV_OP_SET},
                  {"ZV_Increment", ZV_OP_INCREMENT},
                  {"ZV_Decrement", ZV_OP_DECREMENT},
                  {"ZV_Reset", ZV_OP_RESET},
                  {"ZV_Execute", ZV_OP_EXECUTE}};
    size_t described = 0;
    for (const Export& e : kExports) {
        SCOPED_TRACE(e.name);
        const std::string_view name = e.name;
        const auto* word = std::find_if(std::begin(kWords), std::end(kWords),
                                        [name](const auto& w) { return name.starts_with(w.word); });
        ASSERT_NE(word, std::end(kWords));
        const zv_setting* s = find(std::string(name.substr(word->word.size())).c_str());
        ASSERT_NE(s, nullptr);
        EXPECT_NE(s->operations & word->bit, 0u);
        EXPECT_EQ(word->bit == ZV_OP_RESET ? s->reset_type : s->type, e.type);
    }
    for (size_t i = 0; i < size(); ++i) described += std::popcount(entry(i)->operations);
    EXPECT_EQ(described, std::size(kExports)) << "the catalogue gives no export beyond these";
}

TEST_F(Abi, EveryCommandExportSendsItsOwnFrame) {
    emu::Emulator projector;
    std::string error;
    ASSERT_TRUE(projector.start(&error)) << error;
    const auto setConnection =
        bind<int32_t (*)(int32_t, const char*, const char*)>("ZV_SetConnection");
    ASSERT_NE(setConnection, nullptr);
    ASSERT_EQ(setConnection(2, "127.0.0.1", std::to_string(projector.tcpPort()).c_str()), 1);

    for (const Export& e : kExports) {
        SCOPED_TRACE(e.name);
        void* address = ::dlsym(library_, e.name);
        ASSERT_NE(address, nullptr);
        projector.clearFrames();
        uint16_t value = 0xBEEF;
        int32_t result = -1;
        switch (e.shape) {
            case Shape::Get:
                result = reinterpret_cast<int32_t (*)(uint16_t*)>(address)(&value);
                break;
            case Shape::Set:
                // Above 16 bits: only the low half may be sent.
                result = reinterpret_cast<int32_t (*)(int32_t)>(address)(0x50002);
                break;
            case Shape::Step:
                result = reinterpret_cast<int32_t (*)()>(address)();
                break;
        }
        EXPECT_TRUE(result == 0 || result == 1);
        ASSERT_TRUE(projector.waitForFrames(1, 2s));
        const auto frame = projector.frames().front();
        EXPECT_EQ(frame.action, e.action);
        EXPECT_EQ(frame.type, e.type);
        EXPECT_EQ(frame.value, e.shape == Shape::Set ? 2 : 0);
        EXPECT_TRUE(frame.checksumValid);
        if (e.shape == Shape::Get) {
            EXPECT_EQ(result, 1);
            EXPECT_NE(value, 0xBEEF);
        }
    }
    projector.stop();
}

// The link handles bind by name too, and a link opened through them reaches the projector.
TEST_F(Abi, LinkExportsBindByName) {
    for (const char* name :
         {"zv_link_open", "zv_link_close", "zv_link_set_option", "zv_link_get_option", "zv_get",
          "zv_set", "zv_increment", "zv_decrement", "zv_execute", "zv_link_begin",
          "zv_link_wait_for", "zv_link_continue"}) {
        EXPECT_NE(::dlsym(library_, name), nullptr) << name;
    }
    emu::Emulator projector;
    ASSERT_TRUE(projector.start());
    const auto open = bind<void* (*)(const char*, uint32_t*)>("zv_link_open");
    const auto get = bind<uint32_t (*)(void*, uint16_t, uint16_t*)>("zv_get");
    const auto close = bind<void (*)(void*)>("zv_link_close");
    ASSERT_TRUE(open && get && close);
    void* link = open(("tcp://127.0.0.1:" + std::to_string(projector.tcpPort())).c_str(), nullptr);
    uint16_t power = 0xBEEF;
    EXPECT_EQ(get(link, 0x6000, &power), 0u);
    EXPECT_NE(power, 0xBEEF);
    close(link);
    projector.stop();
}

}  // namespace
