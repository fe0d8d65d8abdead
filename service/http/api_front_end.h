// The HTTP API as a front end of the service (front_end.h).
#pragma once

#include <memory>

#include "front_end.h"

namespace zolvane::service::http {

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings& service);

}  // namespace zolvane::service::http
