// Many threads sharing the one link: every call gets its own answer, and no frame is ever
// interleaved with another on the wire.
#include <atomic>
#include <thread>
#include <vector>

#include "emulated_projector.h"

namespace {

using namespace testing_support;

class Stress : public EmulatedProjector, public testing::WithParamInterface<bool> {};

TEST_P(Stress, EightThreadsOfFiveHundredCommands) {
    constexpr int kThreads = 8;
    constexpr int kCommands = 500;
    GetParam() ? useSerial() : useNetwork();

    // Each thread owns one setting, so every read must return exactly what that thread wrote.
    constexpr uint16_t kTypes[kThreads] = {0x2003, 0x2004, 0x2007, 0x200B,
                                           0x2005, 0x2006, 0x2012, 0x2202};
    using Set = int32_t (*)(int32_t);
    using Get = int32_t (*)(uint16_t*);
    constexpr Set kSets[kThreads] = {ZV_SetBrightness,    ZV_SetContrast,      ZV_SetKeystoneV,
                                     ZV_SetKeystoneH,     ZV_SetColorBalanceR, ZV_SetColorBalanceB,
                                     ZV_SetColorBalanceG, ZV_SetColor};
    constexpr Get kGets[kThreads] = {ZV_GetBrightness,    ZV_GetContrast,      ZV_GetKeystoneV,
                                     ZV_GetKeystoneH,     ZV_GetColorBalanceR, ZV_GetColorBalanceB,
                                     ZV_GetColorBalanceG, ZV_GetColor};
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCommands / 2; ++i) {
                const int32_t written = 100 + (t * 7 + i) % 50;
                uint16_t read = 0;
                if (kSets[t](written) != 1) ++wrong;
                if (kGets[t](&read) != 1 || read != written) ++wrong;
                if (ZV_GetLastResult() != ZV_RESULT_OK) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);

    const auto frames = projector().frames();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kThreads * kCommands));
    for (const auto& f : frames) {
        ASSERT_TRUE(f.headerValid && f.checksumValid);
        ASSERT_NE(std::find(std::begin(kTypes), std::end(kTypes), f.type), std::end(kTypes));
    }
}

INSTANTIATE_TEST_SUITE_P(Links, Stress, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

}  // namespace
