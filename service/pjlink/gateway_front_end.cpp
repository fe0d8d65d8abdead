#include "pjlink/gateway_front_end.h"

#include "pjlink/gateway.h"
#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::pjlink {
namespace {

class Gateway final : public FrontEnd {
public:
    Gateway(const FrontEndContext& context, const Settings& settings)
        : gateways_(context.fleet, context.inventory, settings, context.settings.pjlinkIdleTimeout),
          host_(context.settings.pjlinkHost.empty() ? context.listen.host
                                                    : context.settings.pjlinkHost) {}

    std::string_view name() const override { return "pjlink"; }

    // The gateways bind before the fleet starts, so that a port in use stops the start cleanly.
    bool start(std::string* why) override { return gateways_.start(host_, why); }

    // After the fleet, so that no command it waits for waits long.
    void stop() override { gateways_.stop(); }

private:
    Gateways gateways_;
    const std::string host_;
};

class Part final : public FrontEndPart {
public:
    explicit Part(const service::Settings& service) : reader_(settingsReader(settings_, service)) {}

    fleet::InventorySection* reader() override { return reader_.get(); }

    std::unique_ptr<FrontEnd> make(const FrontEndContext& context) const override {
        return std::make_unique<Gateway>(context, settings_);
    }

    void reload(FrontEnd&, const FrontEndContext&, const fleet::Changes&) const override {}

private:
    Settings settings_;
    std::unique_ptr<fleet::InventorySection> reader_;
};

}  // namespace

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings& service) {
    return std::make_unique<Part>(service);
}

}  // namespace zolvane::service::pjlink
