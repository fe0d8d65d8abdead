#include "cli_test.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace cli_testing {

Finished Zolvane(std::vector<std::string> arguments, Output output) {
    arguments.insert(arguments.begin(), ZOLVANE_CLI);
    return Run(arguments, std::chrono::seconds(90), output);
}

std::unique_ptr<emu::Emulator> StartProjector() {
    emu::Options options;
    options.pty = true;
    options.coolingTime = std::chrono::milliseconds(0);
    auto projector = std::make_unique<emu::Emulator>(options);
    std::string error;
    EXPECT_TRUE(projector->start(&error)) << error;
    return projector;
}

void CliTest::SetUp() {
    projector_ = StartProjector();
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvane-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
}

void CliTest::TearDown() {
    projector_->stop();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

std::string CliTest::address() const {
    return "127.0.0.1:" + std::to_string(projector_->tcpPort());
}

Finished CliTest::zolvane(std::vector<std::string> arguments, Output output) const {
    arguments.insert(arguments.begin(), {"--tcp", address()});
    return Zolvane(std::move(arguments), output);
}

Finished CliTest::zolvaneOn(const emu::Emulator& other, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--tcp", "127.0.0.1:" + std::to_string(other.tcpPort())});
    return Zolvane(std::move(arguments));
}

void CliTest::writeFile(const std::filesystem::path& file, const std::string& text) const {
    std::ofstream(file, std::ios::binary) << text;
}

std::string CliTest::readFile(const std::filesystem::path& file) const {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace cli_testing
