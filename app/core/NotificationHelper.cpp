#include "app/core/NotificationHelper.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>

namespace tw {

namespace {

// A version 4 (random) UUID in its upper-case text form.
std::string randomUuid() {
    static thread_local std::random_device source;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const auto word = source();
        for (std::size_t j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
    }
    return text;
}

}  // namespace

NotificationHelper::NotificationHelper(std::shared_ptr<MainQueue> main,
                                       std::shared_ptr<NotificationService> service,
                                       std::shared_ptr<AppLogger> logger)
    : main_(std::move(main)), service_(std::move(service)), logger_(std::move(logger)) {}

void NotificationHelper::requestAuthorization() {
    service_->requestAuthorization([post = poster()](auto answer) {
        if (answer) return;
        post([error = std::move(answer.error())](NotificationHelper& self) {
            self.logger_->log("App", "Notification permission error: " + error);
        });
    });
}

void NotificationHelper::show(std::string title, std::string body,
                              std::string_view identifierPrefix) {
    NotificationService::Request request{std::string(identifierPrefix) + randomUuid(),
                                         std::move(title), std::move(body)};
    service_->authorizationStatus([post = poster(), request = std::move(request)](bool authorized) {
        post(
            [authorized, request](NotificationHelper& self) { self.deliver(authorized, request); });
    });
}

MainPoster<NotificationHelper> NotificationHelper::poster() {
    return MainPoster<NotificationHelper>(main_, weak_from_this());
}

void NotificationHelper::deliver(bool authorized, NotificationService::Request request) {
    if (!authorized) service_->requestAuthorization([](auto) {});
    service_->add(std::move(request));
}

}  // namespace tw
