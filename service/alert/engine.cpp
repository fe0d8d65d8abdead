#include "alert/engine.h"

namespace zolvane::service::alert {

// PLACEHOLDER: the engine is being written.
class Engine::Impl {};

Engine::Engine(fleet::Fleet&, const fleet::Inventory&, Database&, const Alerting&,
               std::function<void()>)
    : impl_(std::make_unique<Impl>()) {}
Engine::~Engine() = default;
void Engine::start() {}
void Engine::stop() {}
void Engine::scheduleRan(const std::string&, const nlohmann::json&) {}
Answer Engine::list() const { return jsonAnswer({{"alerts", nlohmann::json::array()}}); }
Answer Engine::acknowledge(std::string_view, const std::string&) {
    return refusal(404, "no such alert");
}
Engine::Counters Engine::counters() const { return {}; }

}  // namespace zolvane::service::alert
