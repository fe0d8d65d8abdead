// Standard output that cannot take the answer: full or closed. The answer a script relies on must
// not vanish behind a status of success.
#include "cli_test.h"

namespace cli_testing {
namespace {

using testing::HasSubstr;

struct LostOutput {
    std::vector<std::string> arguments;
    Output output;
    int status;
    const char* message;  // on standard error; empty for none
};

void PrintTo(const LostOutput& row, std::ostream* out) {
    for (const std::string& argument : row.arguments) *out << argument << ' ';
    *out << (row.output == Output::Full ? "> /dev/full" : ">&-");
}

class OutputFailure : public CliTest, public testing::WithParamInterface<LostOutput> {};

TEST_P(OutputFailure, ExitStatusAndMessage) {
    const LostOutput& row = GetParam();
    const Finished finished = zolvane(row.arguments, row.output);
    EXPECT_EQ(finished.status, row.status) << finished.err;
    if (*row.message == '\0') {
        EXPECT_EQ(finished.err, "");
    } else {
        EXPECT_THAT(finished.err, HasSubstr(row.message));
    }
}

constexpr const char* kFull = "zolvane: cannot write to standard output: No space left on device";
constexpr const char* kClosed = "zolvane: cannot write to standard output: it is closed";

INSTANTIATE_TEST_SUITE_P(
    Commands, OutputFailure,
    testing::Values(LostOutput{{"get", "LampTime"}, Output::Full, 4, kFull},
                    LostOutput{{"status", "--json"}, Output::Full, 4, kFull},
                    LostOutput{{"list"}, Output::Full, 4, kFull},
                    LostOutput{{"list", "--json"}, Output::Full, 4, kFull},
                    LostOutput{{"frame", "get", "Power"}, Output::Full, 4, kFull},
                    LostOutput{{"--help"}, Output::Full, 4, kFull},
                    LostOutput{{"get", "Nonsense"}, Output::Full, 2, "no setting"},
                    LostOutput{{"get", "LampTime"}, Output::Closed, 4, kClosed},
                    LostOutput{{"status"}, Output::Closed, 4, kClosed},
                    LostOutput{{"frame", "get", "Power"}, Output::Closed, 4, kClosed},
                    // A command that prints nothing has lost nothing.
                    LostOutput{{"power", "on"}, Output::Closed, 0, ""}));

}  // namespace
}  // namespace cli_testing
