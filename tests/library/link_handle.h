// A link handle that closes itself, opened with the checks every link test makes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "zolvane_link.h"

struct LinkCloser {
    void operator()(zv_link* link) const { zv_link_close(link); }
};
using LinkPtr = std::unique_ptr<zv_link, LinkCloser>;

inline LinkPtr Open(const std::string& address) {
    zv_result why = 0xDEAD;
    LinkPtr link(zv_link_open(address.c_str(), &why));
    EXPECT_NE(link, nullptr) << address;
    EXPECT_EQ(why, ZV_RESULT_OK);
    return link;
}
