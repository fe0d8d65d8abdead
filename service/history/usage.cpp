// Placeholder until the report is written.
#include "history/queries.h"

namespace zolvane::service::history {

Answer usageReport(const Store&, const fleet::Fleet&, const Params&, const date::time_zone*) {
    return refusal(503, "the service keeps no history");
}

}  // namespace zolvane::service::history
