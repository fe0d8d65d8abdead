// The serial link on Windows without a serial port: the names it opens, and ports that cannot
// be opened or are no serial port at all, each failing with its own code and leaving nothing
// open behind.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "links.h"
#include "zolvane.h"

namespace {

TEST(SerialDevicePath, ComNamesGetTheDevicePrefixThatComTenAndAboveNeed) {
    EXPECT_EQ(zolvane::SerialDevicePath("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(zolvane::SerialDevicePath("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(zolvane::SerialDevicePath("com30"), "\\\\.\\com30");
    for (const char* unchanged : {"\\\\.\\COM3", "COM", "COMx", "COM1x", "LPT1", "C:\\port", ""}) {
        EXPECT_EQ(zolvane::SerialDevicePath(unchanged), unchanged);
    }
}

// A file in the temporary folder that stands in for a device that is no serial port.
class NotAPort : public testing::Test {
protected:
    void SetUp() override {
        char folder[MAX_PATH];
        char name[MAX_PATH];
        ASSERT_GT(::GetTempPathA(MAX_PATH, folder), 0u);
        ASSERT_NE(::GetTempFileNameA(folder, "zv", 0, name), 0u);
        path_ = name;
    }
    void TearDown() override { ::DeleteFileA(path_.c_str()); }

    // Opening it exclusively succeeds only when nobody else holds it.
    bool nobodyHoldsIt() const {
        const HANDLE h = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(h);
        return true;
    }

    std::string path_;
};

TEST_F(NotAPort, IsRefusedAtItsFirstSerialCallAndClosedAgain) {
    ASSERT_EQ(ZV_SetConnection(1, path_.c_str(), ""), 1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint16_t value = 7;
        EXPECT_EQ(ZV_GetPower(&value), 0);
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_PORT_BUFFERS_FAILED)
            << ZV_GetResultText(ZV_GetLastResult());
        EXPECT_EQ(value, 7);
        EXPECT_TRUE(nobodyHoldsIt()) << "the handle was left open";
    }
}

TEST_F(NotAPort, HeldByAnotherProgramFailsToOpen) {
    const HANDLE held = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_EQ(ZV_SetConnection(1, path_.c_str(), ""), 1);
    EXPECT_EQ(ZV_SetPower(1), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_PORT_OPEN_FAILED);
    ::CloseHandle(held);
}

TEST(SerialLink, AMissingPortFailsToOpenAtOnce) {
    for (const char* port : {"COM199", "\\\\.\\no-such-device", ""}) {
        ASSERT_EQ(ZV_SetConnection(1, port, ""), 1);
        EXPECT_EQ(ZV_IncrementVolume(), 0) << port;
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_PORT_OPEN_FAILED) << port;
    }
}

}  // namespace
