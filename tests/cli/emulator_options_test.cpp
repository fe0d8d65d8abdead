// The emulator program's own command line, where the tests start it as a user would.
#include "cli_test.h"

namespace cli_testing {
namespace {

using testing::HasSubstr;
using testing::Not;

TEST(EmulatorOptions, CountsOutOfRangeGiveIntegerLimits) {
    for (const char* count : {"0", "-3", "4294967296"}) {
        const Finished finished =
            cli_testing::Run({ZOLVANE_EMULATOR, "--no-tcp", "--fault-frames", count});
        EXPECT_NE(finished.status, 0) << count;
        EXPECT_THAT(finished.err, HasSubstr("not in range 1 to 4294967295")) << count;
        EXPECT_THAT(finished.err, Not(HasSubstr("e+308"))) << count;
    }
}

}  // namespace
}  // namespace cli_testing
