#include "app/core/LoginItem.h"

namespace tw {

LoginItem::LoginItem(std::shared_ptr<Preferences> defaults,
                     std::shared_ptr<LoginItemService> service, std::shared_ptr<AppLogger> logger)
    : defaults_(std::move(defaults)), service_(std::move(service)), logger_(std::move(logger)) {}

std::string LoginItem::build(const Bundle& bundle) {
    return bundle.string("CFBundleVersion").value_or("");
}

LoginItem::Outcome LoginItem::registerIfNeeded(std::string_view build) {
    defaults_->remove(kLegacyKey);
    if (defaults_->string(kRegisteredBuildKey) == build)
        return {Outcome::Kind::alreadyRegistered, {}};
    if (const auto registered = service_->registerItem(); !registered) {
        logger_->log("App", "Login item register failed: " + registered.error().description());
        return {Outcome::Kind::failed, registered.error()};
    }
    defaults_->setString(kRegisteredBuildKey, build);
    logger_->log("App", "Registered app as login item (status: " +
                            std::to_string(static_cast<int>(service_->status())) + ")");
    return {Outcome::Kind::registered, {}};
}

void LoginItem::unregister() {
    (void)service_->unregisterItem();
    defaults_->remove(kRegisteredBuildKey);
    defaults_->remove(kLegacyKey);
}

}  // namespace tw
