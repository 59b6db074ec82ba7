#pragma once

#include <expected>

#include "app/core/LoginItemService.h"

namespace tw {

// A login-item service that answers what the test set and counts the calls.
class FakeLoginItemService final : public LoginItemService {
  public:
    std::expected<void, LoginItemError> registerItem() override {
        ++registerCalls;
        if (registerResult) currentStatus = LoginItemStatus::enabled;
        return registerResult;
    }
    std::expected<void, LoginItemError> unregisterItem() override {
        ++unregisterCalls;
        if (unregisterResult) currentStatus = LoginItemStatus::notRegistered;
        return unregisterResult;
    }
    LoginItemStatus status() const override { return currentStatus; }

    std::expected<void, LoginItemError> registerResult;
    std::expected<void, LoginItemError> unregisterResult;
    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

}  // namespace tw
