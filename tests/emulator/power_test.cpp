#include <thread>

#include "emulator_fixture.h"

using namespace wire;
using zolvane::emulator::PowerState;

namespace {

constexpr std::uint16_t kPower = 0x6000;

class PowerTest : public EmulatorTest {
protected:
    void startWith(PowerState power, std::chrono::milliseconds cooling) {
        zolvane::emulator::Options options;
        options.initialPower = power;
        options.coolingTime = cooling;
        start(options);
    }

    // Polls over the wire, as the desktop program does, until the state shows or time runs out.
    bool waitForPower(std::uint16_t state, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (exchange(kGet, kPower) == valueReply(state)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds{20});
        }
        return false;
    }
};

TEST_F(PowerTest, SwitchingOffCoolsDownBeforeItCanBeSwitchedOnAgain) {
    startWith(PowerState::On, std::chrono::milliseconds{300});

    EXPECT_EQ(exchange(kSet, kPower, 0), kAck);
    EXPECT_EQ(exchange(kGet, kPower), valueReply(2));
    EXPECT_EQ(exchange(kSet, kPower, 1), kNak) << "refused while cooling down";
    EXPECT_TRUE(waitForPower(0, std::chrono::seconds{10}));
    EXPECT_EQ(exchange(kSet, kPower, 1), kAck);
    EXPECT_EQ(exchange(kGet, kPower), valueReply(1));
}

TEST_F(PowerTest, WithoutCoolingTimeSwitchesOffAtOnce) {
    startWith(PowerState::On, std::chrono::milliseconds{0});

    EXPECT_EQ(exchange(kSet, kPower, 0), kAck);
    EXPECT_EQ(exchange(kGet, kPower), valueReply(0));
}

TEST_F(PowerTest, WhileOffOnlyStandbySettingsAnswer) {
    startWith(PowerState::Off, std::chrono::milliseconds{0});

    EXPECT_EQ(exchange(kGet, kPower), valueReply(0));
    EXPECT_EQ(exchange(kGet, 0x1090), valueReply(1234)) << "lamp time";
    EXPECT_EQ(exchange(kGet, 0x10A0), valueReply(567)) << "filter time";
    EXPECT_EQ(exchange(kGet, 0x6020), valueReply(0)) << "error status";
    EXPECT_EQ(exchange(kExecute, 0x7040), kAck) << "filter time reset";

    EXPECT_EQ(exchange(kGet, 0x2003), kNak) << "brightness";
    EXPECT_EQ(exchange(kSet, 0x2000, 1), kNak) << "input source";
    EXPECT_EQ(exchange(kIncrement, 0x3016), kNak) << "menu position";
    EXPECT_EQ(exchange(kExecute, 0x7000), kNak) << "brightness reset";
    EXPECT_EQ(exchange(kExecute, 0x200A), kNak) << "automatic adjustment";
}

TEST_F(PowerTest, CoolingDownCountsAsOffForOtherSettings) {
    startWith(PowerState::On, std::chrono::seconds{60});
    ASSERT_EQ(exchange(kSet, kPower, 0), kAck);

    EXPECT_EQ(exchange(kGet, 0x2003), kNak);
    EXPECT_EQ(exchange(kGet, 0x1090), valueReply(1234));
}

}  // namespace
