#include "app/sniffer/tests/tap_device.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quil::test {

TapDevice::TapDevice() {
    fd_ = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        problem_ = std::string("/dev/net/tun: ") + std::strerror(errno);
        return;
    }
    ifreq request{};
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    std::string wanted = "quiltap" + std::to_string(getpid() % 100000);
    std::strncpy(request.ifr_name, wanted.c_str(), IFNAMSIZ - 1);
    if (ioctl(fd_, TUNSETIFF, &request) != 0) {
        problem_ = std::string("TUNSETIFF: ") + std::strerror(errno);
        Close();
        return;
    }
    int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool up = control >= 0 && ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(control, SIOCSIFFLAGS, &request) == 0;
    if (!up) problem_ = std::string("cannot bring the tap up: ") + std::strerror(errno);
    if (control >= 0) close(control);
    if (!up) {
        Close();
        return;
    }
    name_ = request.ifr_name;
}

TapDevice::~TapDevice() {
    Close();
}

bool TapDevice::Write(const Frame& frame) {
    return fd_ >= 0 && write(fd_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

void TapDevice::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

}  // namespace quil::test
