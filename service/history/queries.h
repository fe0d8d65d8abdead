// The API's reading of the history: a projector's history, the audit trail and the usage report,
// as JSON or CSV. Each opens the file read-only for itself, so that no reading holds up writing.
#pragma once

#include <map>
#include <string>

#include "answer.h"
#include "history/store.h"

namespace date {
class time_zone;
}

namespace zolvane::service::history {

// A request's query parameters (from, to, kind, source, projector, group, page, format).
using Params = std::multimap<std::string, std::string>;

// GET /api/projectors/NAME/history
Answer projectorHistory(const Store& store, const fleet::Fleet& fleet, const std::string& projector,
                        const Params& params, const date::time_zone* zone);
// GET /api/log
Answer auditLog(const Store& store, const fleet::Fleet& fleet, const Params& params,
                const date::time_zone* zone);
// GET /api/reports/usage
Answer usageReport(const Store& store, const fleet::Fleet& fleet, const Params& params,
                   const date::time_zone* zone);

}  // namespace zolvane::service::history
