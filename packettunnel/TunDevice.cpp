#include "packettunnel/TunDevice.h"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tw {

namespace {

std::string failure(const std::string& what, const std::string& name, int error) {
    return what + " " + name + ": " + std::strerror(error);
}

}  // namespace

std::expected<TunDevice, std::string> TunDevice::create(const std::string& name) {
    const std::string what = "Could not create the tunnel device";
    if (name.empty() || name.size() >= IFNAMSIZ) return std::unexpected(what + " \"" + name + "\": bad name");
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::unexpected(failure(what, name, errno));
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::memcpy(request.ifr_name, name.data(), name.size());
    if (::ioctl(fd, TUNSETIFF, &request) != 0) {
        const int error = errno;
        ::close(fd);
        return std::unexpected(failure(what, name, error));
    }
    return TunDevice(fd, name);
}

TunDevice::~TunDevice() { close(); }

TunDevice::TunDevice(TunDevice&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)) {}

TunDevice& TunDevice::operator=(TunDevice&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        name_ = std::move(other.name_);
    }
    return *this;
}

void TunDevice::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

std::expected<void, std::string> TunDevice::disableIpv6() const {
    const std::string path = "/proc/sys/net/ipv6/conf/" + name_ + "/disable_ipv6";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return {};
    if (fd < 0) return std::unexpected(failure("Could not disable IPv6 on", name_, errno));
    const bool written = ::write(fd, "1\n", 2) == 2;
    const int error = errno;
    ::close(fd);
    if (!written) return std::unexpected(failure("Could not disable IPv6 on", name_, error));
    return {};
}

}  // namespace tw
