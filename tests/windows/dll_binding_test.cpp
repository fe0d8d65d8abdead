// ZOLVANE.DLL as a Windows program binds to it: loaded by name at run time, every function
// resolved by its plain name, and a command carried to the projector through it.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "emulator_ports.h"
#include "loopback.h"
#include "zolvane.h"

namespace {

using windows_tests::EmulatorPort;

// True while someone in the process holds a WinSock reference.
bool WinSockStarted() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        ::closesocket(s);
        return true;
    }
    return ::WSAGetLastError() != WSANOTINITIALISED;
}

// Every function the header declares, spelt out from the catalogue the exports come from.
std::vector<std::string> DeclaredFunctions() {
    std::vector<std::string> names = {"ZV_SetConnection", "ZV_GetConnection", "ZV_GetCommand",
                                      "ZV_GetLastResult", "ZV_GetResultText"};
#define ZV_IF_Y(op, name) names.push_back("ZV_" #op #name);
#define ZV_IF_N(op, name)
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label)    \
    ZV_IF_##get(Get, name) ZV_IF_##set(Set, name) ZV_IF_##inc(Increment, name) \
        ZV_IF_##dec(Decrement, name) ZV_IF_##reset(Reset, name)
#define ZV_EXECUTE(name, type, label) names.push_back("ZV_Execute" #name);
#include "catalogue.def"
#undef ZV_SETTING
#undef ZV_EXECUTE
#undef ZV_IF_Y
#undef ZV_IF_N
    return names;
}

class Dll : public testing::Test {
protected:
    void SetUp() override {
        module_ = ::LoadLibraryA("ZOLVANE.DLL");
        ASSERT_NE(module_, nullptr) << "error " << ::GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }

    // The function of that name, typed as the header declares it.
    template <typename Function>
    Function* bind(const char* name) {
        const FARPROC address = ::GetProcAddress(module_, name);
        EXPECT_NE(address, nullptr) << name;
        return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(address));
    }

    HMODULE module_ = nullptr;
};

TEST_F(Dll, ExportsEveryDeclaredFunctionByItsPlainName) {
    const std::vector<std::string> names = DeclaredFunctions();
    EXPECT_EQ(names.size(), 193u);
    for (const std::string& name : names) {
        EXPECT_NE(::GetProcAddress(module_, name.c_str()), nullptr) << name;
    }
    EXPECT_EQ(::GetProcAddress(module_, "Crc16Modbus"), nullptr) << "internals stay inside";
}

TEST_F(Dll, BuildsFramesWithoutAnyLink) {
    auto* getCommand = bind<decltype(ZV_GetCommand)>("ZV_GetCommand");
    ASSERT_NE(getCommand, nullptr);
    std::array<uint8_t, 13> frame{};
    ASSERT_EQ(getCommand(2, 0x6000, 0, frame.data(), 13), 1);
    const std::array<uint8_t, 13> expected = {0xBE, 0xEF, 0x03, 0x06, 0x00, 0x19, 0xD3,
                                              0x02, 0x00, 0x00, 0x60, 0x00, 0x00};
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(getCommand(2, 0x6000, 0, frame.data(), 12), 0);
}

TEST_F(Dll, CarriesCommandsToTheProjectorAndGivesWinSockBackWhenUnloaded) {
    const std::string port = EmulatorPort();
    REQUIRE_EMULATOR(port, "ZOLVANE_EMULATOR_PORT");
    // The test's own reference keeps ws2_32.dll loaded throughout: Wine cannot load it into one
    // process a second time.
    windows_tests::WinSock own;
    ASSERT_TRUE(own.started());
    for (int load = 0; load < 2; ++load) {
        auto* setConnection = bind<decltype(ZV_SetConnection)>("ZV_SetConnection");
        auto* setVolume = bind<decltype(ZV_SetVolume)>("ZV_SetVolume");
        auto* getVolume = bind<decltype(ZV_GetVolume)>("ZV_GetVolume");
        auto* lastResult = bind<decltype(ZV_GetLastResult)>("ZV_GetLastResult");
        auto* resultText = bind<decltype(ZV_GetResultText)>("ZV_GetResultText");
        ASSERT_TRUE(setConnection && setVolume && getVolume && lastResult && resultText);

        ASSERT_EQ(setConnection(2, "127.0.0.1", port.c_str()), 1);
        EXPECT_EQ(setVolume(5 + load), 1) << resultText(lastResult());
        uint16_t volume = 0;
        EXPECT_EQ(getVolume(&volume), 1) << resultText(lastResult());
        EXPECT_EQ(volume, 5 + load);
        EXPECT_EQ(lastResult(), ZV_RESULT_OK);
        EXPECT_STREQ(resultText(ZV_RESULT_OK), "success");

        // Unloaded while the network is chosen, the library gives its reference back: ending
        // the test's own then ends WinSock.
        ASSERT_TRUE(::FreeLibrary(module_));
        module_ = nullptr;
        ::WSACleanup();
        EXPECT_FALSE(WinSockStarted()) << "the unloaded library still holds WinSock";
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);

        module_ = ::LoadLibraryA("ZOLVANE.DLL");
        ASSERT_NE(module_, nullptr);
        auto* getConnection = bind<decltype(ZV_GetConnection)>("ZV_GetConnection");
        uint16_t type = 0;
        char one[64];
        char two[64];
        EXPECT_EQ(getConnection(&type, one, 63, two, 63), 0) << "a fresh load has no link";
    }
}

}  // namespace
