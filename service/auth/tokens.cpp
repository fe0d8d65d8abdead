#include "auth/tokens.h"

#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::auth {
namespace {

class Reader final : public fleet::InventorySection {
public:
    Reader(const Settings& settings, TokenTable& table) : settings_(settings), table_(table) {}

private:
    [[maybe_unused]] const Settings& settings_;
    [[maybe_unused]] TokenTable& table_;
};

}  // namespace

int hashToken(std::istream&, std::ostream&, std::ostream&) { return 1; }

std::unique_ptr<fleet::InventorySection> tokensReader(const Settings& settings, TokenTable& table) {
    return std::make_unique<Reader>(settings, table);
}

}  // namespace zolvane::service::auth
