#include "driver.h"

#include <stdexcept>
#include <utility>

#ifndef ZOLVANE_NO_PJLINK
#include "zolvane_fleet/pjlink_address.h"
#endif
#include "zolvane_fleet/projector_queue.h"

namespace zolvane::fleet {
namespace {

// Our own projectors: one frame per command over the library's link, stepwise on the loop
// where the link can, on the loop's pool where it cannot (a serial port).
class NativeDriver : public Driver {
public:
    NativeDriver(const ProjectorEntry& entry, EventLoop& loop) : loop_(loop) {
        zv_result why = 0;
        link_ = zv_link_open(entry.address.c_str(), &why);
        if (link_ == nullptr) {
            throw std::invalid_argument("address \"" + entry.address +
                                        "\" cannot be used: " + resultReason(why));
        }
        const Timing& t = entry.timing;
        const struct {
            int32_t option;
            Milliseconds value;
        } options[] = {
            {ZV_LINK_CONNECT_TIMEOUT_MS, t.connectTimeout},
            {ZV_LINK_SEND_TIMEOUT_MS, t.sendTimeout},
            {ZV_LINK_RECEIVE_TIMEOUT_MS, t.receiveTimeout},
            {ZV_LINK_GAP_MS, t.gap},
        };
        for (const auto& [option, value] : options) {
            if (zv_link_set_option(link_, option, static_cast<int32_t>(value.count())) != 0) {
                zv_link_close(link_);
                throw std::invalid_argument("timing of \"" + entry.name +
                                            "\" is out of the link's range");
            }
        }
    }
    ~NativeDriver() override { zv_link_close(link_); }
    NativeDriver(const NativeDriver&) = delete;
    NativeDriver& operator=(const NativeDriver&) = delete;

    void exchange(const LinkAction& action, Done done) override {
        loop_.exchange(link_, action, std::move(done));
    }
    // Every projector of our make has every watched value and the catalogue's names.
    void survey(std::function<void()> done) override { loop_.post(std::move(done)); }
    Abilities abilities() const override { return {}; }
    std::string reason(zv_result) const override { return {}; }

private:
    EventLoop& loop_;
    zv_link* link_ = nullptr;
};

}  // namespace

std::unique_ptr<Driver> openDriver(const ProjectorEntry& entry, EventLoop& loop) {
#ifndef ZOLVANE_NO_PJLINK
    // A build without the PJLink driver (Windows) has our own protocol only: there the link
    // refuses a PJLink address as one it cannot read.
    if (isPjlinkAddress(entry.address)) return openPjlinkDriver(entry, loop);
#endif
    return std::make_unique<NativeDriver>(entry, loop);
}

}  // namespace zolvane::fleet
