// The emulator program's own command line, where the tests start it as a user would.
#include "cli_test.h"

namespace cli_testing {
namespace {

using testing::HasSubstr;
using testing::Not;

struct OutOfRange {
    const char* option;
    const char* value;
    const char* limits;
};

// Every refused number names the option's integer limits, never a floating-point bound.
TEST(EmulatorOptions, OutOfRangeValuesGiveIntegerLimits) {
    const OutOfRange rows[] = {
        {"--fault-frames", "0", "not in range 1 to 4294967295"},
        {"--fault-frames", "-3", "not in range 1 to 4294967295"},
        {"--fault-frames", "4294967296", "not in range 1 to 4294967295"},
        {"--delay", "-1", "not in range 0 to 86400000"},
        {"--cooling-ms", "-5", "not in range 0 to 86400000"},
        {"--pause", "86400001", "not in range 0 to 86400000"},
    };
    for (const OutOfRange& row : rows) {
        const Finished finished =
            cli_testing::Run({ZOLVANE_EMULATOR, "--no-tcp", row.option, row.value});
        EXPECT_NE(finished.status, 0) << row.option << ' ' << row.value;
        EXPECT_THAT(finished.err, HasSubstr(row.limits)) << row.option << ' ' << row.value;
        EXPECT_THAT(finished.err, Not(HasSubstr("e+308"))) << row.option << ' ' << row.value;
    }
}

}  // namespace
}  // namespace cli_testing
