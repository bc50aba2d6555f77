#include "desktop/HidrawDevices.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "desktop/HidReportDescriptor.h"
#include "infra/CLogger.h"

namespace {

constexpr std::size_t kLongestUevent = 8192;

bool isHidrawName(const std::string& name) {
    return name.size() > 6 && name.rfind("hidraw", 0) == 0 &&
           std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

HidrawDevices::HidrawDevices(std::string sysfsClass, std::string deviceFolder)
    : sysfsClass_(std::move(sysfsClass)), deviceFolder_(std::move(deviceFolder)) {}

HidrawDevices::~HidrawDevices() {
    if (socket_ >= 0) ::close(socket_);
}

std::vector<std::string> HidrawDevices::present() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysfsClass_, error)) {
        const std::string name = entry.path().filename().string();
        if (isHidrawName(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> HidrawDevices::reportDescriptor(const std::string& name) const {
    if (!isHidrawName(name)) return {};
    std::ifstream file(sysfsClass_ + "/" + name + "/device/report_descriptor", std::ios::binary);
    std::vector<std::uint8_t> bytes(hid::kLongestDescriptor + 1);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

bool HidrawDevices::listen() {
    socket_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own messages
    if (socket_ >= 0 && ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    logMessage(LogLevel::Warning, "HidrawDevices::listen(): Headsets plugged in later will not be seen: %s",
               std::strerror(errno));
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    return false;
}

std::optional<HidrawDevices::Change> HidrawDevices::readChange() {
    char message[kLongestUevent];
    sockaddr_nl sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t size =
        ::recvfrom(socket_, message, sizeof message, 0, reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (size <= 0 || sender.nl_pid != 0) return std::nullopt;  // only the kernel speaks here
    return parseUevent({message, static_cast<std::size_t>(size)});
}

std::optional<HidrawDevices::Change> HidrawDevices::parseUevent(std::span<const char> message) {
    std::string action;
    std::string subsystem;
    std::string name;
    auto at = message.begin();
    while (at != message.end()) {
        const auto end = std::find(at, message.end(), '\0');
        const std::string field(at, end);
        if (field.rfind("ACTION=", 0) == 0) action = field.substr(7);
        if (field.rfind("SUBSYSTEM=", 0) == 0) subsystem = field.substr(10);
        if (field.rfind("DEVNAME=", 0) == 0) name = field.substr(8);
        at = end == message.end() ? end : std::next(end);
    }
    if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
    if (subsystem != "hidraw" || !isHidrawName(name) || (action != "add" && action != "remove")) return std::nullopt;
    return Change{action == "add", name};
}
