// frame prints what the library would send, and needs no projector for it.
#include "cli_test.h"

namespace cli_testing {
namespace {

using testing::HasSubstr;

TEST(Frame, WorkedFramesWithoutAnyLink) {
    const struct {
        std::vector<std::string> arguments;
        const char* bytes;
    } cases[] = {
        {{"frame", "set", "power", "1"}, "BE EF 03 06 00 BA D2 01 00 00 60 01 00\n"},
        {{"frame", "set", "Power", "on"}, "BE EF 03 06 00 BA D2 01 00 00 60 01 00\n"},
        {{"frame", "get", "power"}, "BE EF 03 06 00 19 D3 02 00 00 60 00 00\n"},
        {{"frame", "inc", "brightness"}, "BE EF 03 06 00 EF D2 04 00 03 20 00 00\n"},
        {{"frame", "increment", "0x2003"}, "BE EF 03 06 00 EF D2 04 00 03 20 00 00\n"},
        {{"frame", "reset", "brightness"}, "BE EF 03 06 00 58 D3 06 00 00 70 00 00\n"},
    };
    for (const auto& frame : cases) {
        const Finished finished = Zolvane(frame.arguments);
        EXPECT_EQ(finished.status, 0) << finished.err;
        EXPECT_EQ(finished.out, frame.bytes) << frame.arguments[2];
    }
}

TEST(Frame, MalformedRequestsAreUsageErrors) {
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"frame", "set", "power"}, "needs a VALUE"},
        {{"frame", "get", "power", "1"}, "only frame set takes a VALUE"},
        {{"frame", "jump", "power"}, "unknown action 'jump'"},
        {{"frame", "reset", "Aspect"}, "Aspect has no reset"},
        {{"frame", "get", "0x12345"}, "out of the 16-bit range"},
    };
    for (const auto& frame : cases) {
        const Finished finished = Zolvane(frame.arguments);
        EXPECT_EQ(finished.status, 2) << frame.message;
        EXPECT_THAT(finished.err, HasSubstr(frame.message));
    }
}

}  // namespace
}  // namespace cli_testing
