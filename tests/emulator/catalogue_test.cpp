// Walks the command vocabulary that the library sends and checks that the emulator takes
// exactly the commands each row declares, so that a row added on one side shows up here.
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
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label) \
    {#name, type, get, set, (inc) && (dec), resetType, false},
#define ZV_EXECUTE(name, type, label) {#name, type, false, false, false, 0, true},
    static const std::vector<CatalogueRow> rows = {
#include "catalogue.def"
    };
#undef ZV_SETTING
#undef ZV_EXECUTE
    // clang-format on
    return rows;
}

using CatalogueTest = EmulatorTest;

TEST_F(CatalogueTest, EveryCommandOfTheVocabularyIsTakenAndNoOther) {
    ASSERT_GT(catalogue().size(), 60U);
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
