// Starts an in-process emulator on a free TCP port for each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "projector_emulator/emulator.h"
#include "wire_client.h"

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override { start({}); }
    void TearDown() override { emulator_.reset(); }

    // Replaces the running emulator by one with these options (the TCP port is always free).
    void start(zolvane::emulator::Options options);
    zolvane::emulator::Emulator& emulator() { return *emulator_; }

    // One command over a fresh TCP connection, as the library sends it.
    wire::Bytes exchange(std::uint16_t action, std::uint16_t type, std::uint16_t value = 0);
    wire::Bytes exchange(const wire::Frame& frame);
    wire::Connection connect();

private:
    std::unique_ptr<zolvane::emulator::Emulator> emulator_;
};
