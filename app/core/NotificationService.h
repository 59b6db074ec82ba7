#pragma once

#include <expected>
#include <functional>
#include <string>

namespace tw {

// The platform's user-notification centre. Answers may arrive on any thread.
class NotificationService {
  public:
    struct Request {
        std::string identifier;  // unique per notification
        std::string title;
        std::string body;

        bool operator==(const Request&) const = default;
    };

    // Whether the user has authorised the application's notifications.
    using StatusAnswer = std::function<void(bool authorized)>;
    // Granted or refused, or the error that kept the request from being answered.
    using AuthorizationAnswer = std::function<void(std::expected<bool, std::string>)>;

    virtual ~NotificationService() = default;

    virtual void authorizationStatus(StatusAnswer answer) = 0;
    // Asks the user to allow alerts, sounds and badges.
    virtual void requestAuthorization(AuthorizationAnswer answer) = 0;
    // Delivers the notification now. Failures are silent.
    virtual void add(Request request) = 0;
};

}  // namespace tw
