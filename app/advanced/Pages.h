// The eight pages of the advanced window, in tab order.
#pragma once

#include <array>

#include "PageTable.h"

namespace Advanced {

const PageTable& setupPage();
const PageTable& mainPage();
const PageTable& picture1Page();
const PageTable& picture2Page();
const PageTable& inputPage();
const PageTable& autoPage();
const PageTable& screenPage();
const PageTable& optionPage();

inline std::array<const PageTable*, 8> allPages() {
    return {&setupPage(), &mainPage(), &picture1Page(), &picture2Page(),
            &inputPage(), &autoPage(), &screenPage(),   &optionPage()};
}

}  // namespace Advanced
