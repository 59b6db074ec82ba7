#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/core/NotificationService.h"
#include "base/AppLogger.h"
#include "base/MainPoster.h"
#include "base/MainQueue.h"

namespace tw {

// Posts the application's user notifications. Lives on the main queue; the service's answers are
// handed back to it.
class NotificationHelper : public std::enable_shared_from_this<NotificationHelper> {
  public:
    NotificationHelper(std::shared_ptr<MainQueue> main,
                       std::shared_ptr<NotificationService> service,
                       std::shared_ptr<AppLogger> logger);

    // Asks for permission once at launch. An error is logged ("App"); a refusal is not.
    void requestAuthorization();

    // Posts one notification with `identifierPrefix` and a new random UUID as its identifier and
    // returns at once. Without permission a permission request goes first; its answer is neither
    // waited for nor used, and the notification is added all the same.
    void show(std::string title, std::string body, std::string_view identifierPrefix = {});

  private:
    MainPoster<NotificationHelper> poster();
    void deliver(bool authorized, NotificationService::Request request);

    const std::shared_ptr<MainQueue> main_;
    const std::shared_ptr<NotificationService> service_;
    const std::shared_ptr<AppLogger> logger_;
};

}  // namespace tw
