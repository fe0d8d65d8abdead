// Checks that the emulator takes exactly the commands a setting has, for a row of every shape
// the catalogue holds, written out here so that a wrong row on either side shows up.
#include <string>
#include <vector>

#include "emulator_fixture.h"

using namespace wire;

namespace {

struct CatalogueRow {
    std::string name;
    std::uint16_t type;
    bool get, set, step;
    std::uint16_t resetType;
    bool execute;
};

constexpr bool Y = true;
constexpr bool N = false;

const std::vector<CatalogueRow>& catalogue() {
    // clang-format off
    static const std::vector<CatalogueRow> rows = {
        // name           type    get set step reset   execute
        {"KeystoneV",     0x2007, Y,  Y,  Y,   0x700C, N},
        {"Brightness",    0x2003, Y,  Y,  Y,   0x7000, N},
        {"ColorBalanceG", 0x2012, Y,  Y,  Y,   0x7029, N},
        {"MenuPositionH", 0x3015, Y,  Y,  Y,   0x7043, N},
        {"CustomGamma",   0x30A0, Y,  Y,  Y,   0,      N},
        {"Volume",        0x2001, Y,  Y,  Y,   0,      N},
        {"Aspect",        0x2008, Y,  Y,  N,   0,      N},
        {"Power",         0x6000, Y,  Y,  N,   0,      N},
        {"InputSource",   0x2000, Y,  Y,  N,   0,      N},
        {"Blank",         0x3020, Y,  Y,  N,   0,      N},
        {"LampTime",      0x1090, Y,  N,  N,   0x7030, N},
        {"FilterTime",    0x10A0, Y,  N,  N,   0x7040, N},
        {"ErrorStatus",   0x6020, Y,  N,  N,   0,      N},
        {"SlotkeepLoad",  0x2014, N,  Y,  N,   0,      N},
        {"AutoAdjust",    0x200A, N,  N,  N,   0,      Y},
    };
    // clang-format on
    return rows;
}

using CatalogueTest = EmulatorTest;

TEST_F(CatalogueTest, EachRowsCommandsAreTakenAndNoOther) {
    Connection connection = connect();
    auto send = [&](std::uint16_t action, std::uint16_t type, std::uint16_t value = 0) {
        return connection.exchange(makeFrame(action, type, value));
    };

    for (const CatalogueRow& row : catalogue()) {
        SCOPED_TRACE(row.name);
        if (row.execute) {
            EXPECT_EQ(send(kExecute, row.type), kAck);
            continue;
        }
        const Bytes got = send(kGet, row.type);
        EXPECT_EQ(got.size() == 3 && got[0] == 0x1D, row.get);

        const std::uint16_t current = emulator().value(row.type).value_or(0);
        EXPECT_EQ(send(kSet, row.type, current) == kAck, row.set);

        const bool increments = send(kIncrement, row.type) == kAck;
        const bool decrements = send(kDecrement, row.type) == kAck;
        EXPECT_EQ(increments, row.step);
        EXPECT_EQ(decrements, row.step);
        if (row.resetType != 0) {
            EXPECT_EQ(send(kExecute, row.resetType), kAck);
        }
        EXPECT_EQ(send(kExecute, row.type), kNak);
    }
}

}  // namespace
