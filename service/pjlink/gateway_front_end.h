// The PJLink gateways as a front end of the service (front_end.h).
#pragma once

#include <memory>

#include "front_end.h"

namespace zolvane::service::pjlink {

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings& service);

}  // namespace zolvane::service::pjlink
