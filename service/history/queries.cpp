// Placeholder until the readings are written.
#include "history/queries.h"

namespace zolvane::service::history {

Answer projectorHistory(const Store&, const fleet::Fleet&, const std::string&, const Params&,
                        const date::time_zone*) {
    return refusal(503, "the service keeps no history");
}
Answer auditLog(const Store&, const fleet::Fleet&, const Params&, const date::time_zone*) {
    return refusal(503, "the service keeps no history");
}

}  // namespace zolvane::service::history
