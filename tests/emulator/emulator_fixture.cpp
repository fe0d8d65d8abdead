#include "emulator_fixture.h"

void EmulatorTest::start(zolvane::emulator::Options options) {
    emulator_.reset();
    options.port = 0;
    emulator_ = std::make_unique<zolvane::emulator::Emulator>(std::move(options));
    std::string error;
    ASSERT_TRUE(emulator_->start(&error)) << error;
}

wire::Bytes EmulatorTest::exchange(std::uint16_t action, std::uint16_t type, std::uint16_t value) {
    return exchange(wire::makeFrame(action, type, value));
}

wire::Bytes EmulatorTest::exchange(const wire::Frame& frame) { return connect().exchange(frame); }

wire::Connection EmulatorTest::connect() { return wire::Connection::tcp(emulator_->tcpPort()); }
