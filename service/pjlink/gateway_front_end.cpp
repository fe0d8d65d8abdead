#include "pjlink/gateway_front_end.h"

#include "pjlink/gateway.h"
#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::pjlink {
namespace {

class Gateway final : public FrontEnd {
public:
    Gateway(const FrontEndContext& context, const Settings& settings)
        : gateways_(context.fleet, context.inventory, settings, context.settings.pjlinkIdleTimeout),
          host_(hostOf(context)) {}

    std::string_view name() const override { return "pjlink"; }

    // The gateways bind before the fleet starts, so that a port in use stops the start cleanly.
    bool start(std::string* why) override { return gateways_.start(host_, why); }

    // After the fleet, so that no command it waits for waits long.
    void stop() override { gateways_.stop(); }

    void reload(const FrontEndContext& next, const Settings& settings) {
        host_ = hostOf(next);
        gateways_.reload(next.inventory, settings, host_, next.settings.pjlinkIdleTimeout);
    }

private:
    static std::string hostOf(const FrontEndContext& context) {
        return context.settings.pjlinkHost.empty() ? context.listen.host
                                                   : context.settings.pjlinkHost;
    }

    Gateways gateways_;
    std::string host_;
};

class Part final : public FrontEndPart {
public:
    explicit Part(const service::Settings& service) : reader_(settingsReader(settings_, service)) {}

    fleet::InventorySection* reader() override { return reader_.get(); }

    // Only when some projector has a pjlink_port.
    std::unique_ptr<FrontEnd> make(const FrontEndContext& context) const override {
        if (settings_.ports.empty()) return nullptr;
        return std::make_unique<Gateway>(context, settings_);
    }

    // The fleet's changes are in next.inventory and the fleet itself: each port finds its
    // projector's queue anew.
    void reload(FrontEnd& running, const FrontEndContext& next,
                const fleet::Changes&) const override {
        static_cast<Gateway&>(running).reload(next, settings_);
    }

private:
    Settings settings_;
    std::unique_ptr<fleet::InventorySection> reader_;
};

}  // namespace

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings& service) {
    return std::make_unique<Part>(service);
}

}  // namespace zolvane::service::pjlink
