// A process that has never chosen a link: nothing is sent and nothing is read back.
#include <gtest/gtest.h>

#include <cstring>

#include "zolvane.h"

TEST(FreshLibrary, HasNoLinkUntilOneIsChosen) {
    uint16_t type = 99;
    char one[16] = "untouched";
    char two[16] = "untouched";
    EXPECT_EQ(ZV_GetConnection(&type, one, 15, two, 15), 0);
    EXPECT_EQ(type, 99);
    EXPECT_STREQ(one, "untouched");

    uint16_t value = 7;
    EXPECT_EQ(ZV_GetPower(&value), 0);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(ZV_SetPower(1), 0);

    // A rejected kind does not choose a link either.
    EXPECT_EQ(ZV_SetConnection(3, "COM1", ""), 0);
    EXPECT_EQ(ZV_GetConnection(&type, one, 15, two, 15), 0);
    EXPECT_EQ(ZV_SetPower(1), 0);
}
