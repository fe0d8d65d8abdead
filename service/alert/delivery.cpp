#include "alert/delivery.h"

namespace zolvane::service::alert {

// PLACEHOLDER: the delivery is being written.
class Delivery::Impl {};

Delivery::Delivery(Database&, const std::vector<Notifier>&) : impl_(std::make_unique<Impl>()) {}
Delivery::~Delivery() = default;
void Delivery::attachMqtt(MqttPublisher) {}
void Delivery::start() {}
void Delivery::stop() {}
void Delivery::wake() {}
Answer Delivery::list() const { return jsonAnswer({{"notifiers", nlohmann::json::array()}}); }
std::vector<Delivery::Counters> Delivery::counters() const { return {}; }

}  // namespace zolvane::service::alert
