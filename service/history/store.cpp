// Placeholder until the store is written: keeps no history.
#include "history/store.h"

namespace zolvane::service::history {

std::int64_t toMillis(WallTime time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}
WallTime fromMillis(std::int64_t millis) { return WallTime(std::chrono::milliseconds(millis)); }

class Store::Impl {
public:
    explicit Impl(Options options) : options(std::move(options)) {}
    Options options;
};

Store::Store(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Store::~Store() { stop(); }
bool Store::open() { return false; }
void Store::watch(fleet::Fleet&) {}
void Store::stop() {}
bool Store::available() const { return false; }
const std::filesystem::path& Store::file() const { return impl_->options.file; }
unsigned Store::retentionDays() const { return impl_->options.retentionDays; }
Counters Store::counters() const { return {}; }
std::optional<bool> Store::scheduleEnabled(const std::string&) const { return {}; }
void Store::setScheduleEnabled(const std::string&, bool) {}
void Store::record(const ScheduleRun&) {}
std::optional<ScheduleRun> Store::lastRun(const std::string&) const { return {}; }
std::optional<WallTime> Store::lastAlive() const { return {}; }

}  // namespace zolvane::service::history
