// Each test gets an emulated projector on loopback TCP and a pseudo-terminal, a scratch folder,
// and runs the zolvane program against it as a separate process.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "projector_emulator/emulator.h"

namespace cli_testing {

namespace emu = zolvane::emulator;

// zolvane with exactly these arguments.
Finished Zolvane(std::vector<std::string> arguments, Output output = Output::Read);

// A projector of its own, started with defaults (on, no cooling time).
std::unique_ptr<emu::Emulator> StartProjector();

class CliTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    emu::Emulator& projector() { return *projector_; }
    // "127.0.0.1:PORT" of this test's projector.
    std::string address() const;
    // zolvane --tcp ADDRESS arguments...
    Finished zolvane(std::vector<std::string> arguments, Output output = Output::Read) const;
    // zolvane --tcp ADDRESS of another projector, arguments...
    static Finished zolvaneOn(const emu::Emulator& other, std::vector<std::string> arguments);

    const std::filesystem::path& scratch() const { return scratch_; }
    void writeFile(const std::filesystem::path& file, const std::string& text) const;
    std::string readFile(const std::filesystem::path& file) const;

private:
    std::unique_ptr<emu::Emulator> projector_;
    std::filesystem::path scratch_;
};

}  // namespace cli_testing
