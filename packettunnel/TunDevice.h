#pragma once

#include <expected>
#include <string>

namespace tw {

// A TUN network device owned by this process: it exists while the object does. Nothing reads or
// writes its packets.
class TunDevice {
public:
    // Creates the device `name` (no packet information header). The error is a sentence naming
    // the device and the system's reason.
    static std::expected<TunDevice, std::string> create(const std::string& name);
    ~TunDevice();
    TunDevice(TunDevice&& other) noexcept;
    TunDevice& operator=(TunDevice&& other) noexcept;
    TunDevice(const TunDevice&) = delete;
    TunDevice& operator=(const TunDevice&) = delete;

    // The tunnel carries no IPv6, so the kernel must not give it a link-local address either.
    // A kernel without IPv6 counts as done.
    std::expected<void, std::string> disableIpv6() const;

private:
    TunDevice(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    void close();

    int fd_ = -1;
    std::string name_;
};

}  // namespace tw
