// Windows has no stepwise exchanges: every link is refused and nothing is sent.
#include "stepwise_exchange.h"

#include "link.h"

namespace zolvane {

ResultCode BeginStepwise(Link&, uint32_t, uint16_t, uint32_t) { return ResultBadArgument; }

ResultCode StepwiseWaitFor(Link&, int32_t&, int32_t&, int32_t&) { return ResultBadArgument; }

ResultCode ContinueStepwise(Link&, uint16_t*) { return ResultBadArgument; }

void AbandonStepwise(Link&) {}

}  // namespace zolvane
