#pragma once

#include <QDBusConnection>

namespace tw {

// Stands in for systemd-logind on the sandbox's bus, on a connection of its own: owns
// org.freedesktop.login1 and announces sleep and wake (PrepareForSleep) as logind does.
class FakeLogind {
public:
    FakeLogind();
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    bool isServing() const { return serving_; }
    void prepareForSleep(bool sleeping);

private:
    QDBusConnection bus_;
    bool serving_ = false;
};

}  // namespace tw
