#include "desktop/HeadsetControls.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

namespace {

// The layout of a headset's reports; nothing (logged) for a device that is no headset.
std::optional<HidReportLayout> headsetLayout(std::span<const std::uint8_t> reportDescriptor, const std::string& name) {
    std::string error;
    auto layout = parseHidReportDescriptor(reportDescriptor, error);
    if (!layout) {
        logMessage(LogLevel::Warning, "HeadsetControls::addDevice(): The report descriptor of [%s] is not valid: %s",
                   name.c_str(), error.c_str());
        return std::nullopt;
    }
    if (!layout->hasHookSwitch()) {
        logMessage(LogLevel::Debug, "HeadsetControls::addDevice(): [%s] has no hook switch, not a headset", name.c_str());
        return std::nullopt;
    }
    return layout;
}

}  // namespace

HeadsetControls::HeadsetControls(Agent& agent, std::unique_ptr<HidrawDevices> system)
    : agent_(agent), system_(std::move(system)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

HeadsetControls::~HeadsetControls() {
    stop();
    if (wake_ >= 0) ::close(wake_);
}

void HeadsetControls::start() {
    if (thread_.joinable()) return;
    if (wake_ < 0) {
        logMessage(LogLevel::Error, "HeadsetControls::start(): No headset can be used: %s", std::strerror(errno));
        return;
    }
    system_->listen();
    for (const std::string& name : system_->present()) openSystemDevice(name, true);
    thread_ = std::thread([this] { runGuarded("HeadsetControls", [this] { run(); }); });
}

void HeadsetControls::stop() {
    stopping_ = true;
    wakeThread();
    if (thread_.joinable()) thread_.join();
}

void HeadsetControls::wakeThread() {
    if (wake_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);  // a full counter wakes it too
}

bool HeadsetControls::addDevice(int fd, std::span<const std::uint8_t> reportDescriptor, const std::string& name) {
    const auto layout = headsetLayout(reportDescriptor, name);
    if (!layout) {
        ::close(fd);
        return false;
    }
    adopt(fd, *layout, name);
    return true;
}

void HeadsetControls::adopt(int fd, const HidReportLayout& layout, const std::string& name) {
    logMessage(LogLevel::Normal, "HeadsetControls::addDevice(): Headset [%s] found", name.c_str());
    {
        std::lock_guard guard(addedLock_);
        added_.push_back(std::make_unique<HeadsetDevice>(fd, name, layout));
    }
    ++deviceCount_;
    wakeThread();
}

void HeadsetControls::run() {
    while (!stopping_) {
        takeAddedDevices();
        showLights();
        waitForActivity();
    }
    devices_.clear();
    std::lock_guard guard(addedLock_);
    added_.clear();
}

void HeadsetControls::waitForActivity() {
    std::vector<pollfd> waits{{wake_, POLLIN, 0}, {system_->fd(), POLLIN, 0}};
    for (const auto& device : devices_) waits.push_back({device->fd(), POLLIN, 0});
    const auto milliseconds = [](std::chrono::milliseconds interval) {
        return static_cast<int>(std::max<std::int64_t>(1, Timing::scaled(interval).count() / 1000));
    };
    int timeout = -1;  // nothing to show: sleep until something happens
    if (!devices_.empty()) timeout = milliseconds(intervals::kHeadsetLightsRefresh);
    if (!pendingOpens_.empty()) timeout = milliseconds(intervals::kHeadsetOpenRetry);
    if (::poll(waits.data(), waits.size(), timeout) <= 0) {
        retryPendingOpens();
        return;
    }
    if (waits[0].revents) {
        std::uint64_t count = 0;
        [[maybe_unused]] auto read = ::read(wake_, &count, sizeof count);
    }
    if (waits[1].revents) readSystemChange();
    // From the last, so that a device that goes leaves the indexes before it as they were.
    for (std::size_t i = waits.size(); i-- > 2;)
        if (waits[i].revents) readDevice(i - 2);
}

void HeadsetControls::takeAddedDevices() {
    std::lock_guard guard(addedLock_);
    for (auto& device : added_) devices_.push_back(std::move(device));
    added_.clear();
}

void HeadsetControls::readSystemChange() {
    const auto change = system_->readChange();
    if (!change) return;
    if (change->added) {
        pendingOpens_[change->name] = intervals::kHeadsetOpenAttempts;
        retryPendingOpens();
        return;
    }
    pendingOpens_.erase(change->name);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i]->name() != system_->nodePath(change->name)) continue;
        logMessage(LogLevel::Normal, "HeadsetControls::readSystemChange(): Headset [%s] lost", devices_[i]->name().c_str());
        devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
        --deviceCount_;
        return;
    }
}

bool HeadsetControls::openSystemDevice(const std::string& name, bool lastAttempt) {
    const std::string path = system_->nodePath(name);
    const auto layout = headsetLayout(system_->reportDescriptor(name), path);
    if (!layout) return true;  // nothing the phone uses
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (lastAttempt)
            logMessage(LogLevel::Warning, "HeadsetControls::openSystemDevice(): Headset [%s] cannot be opened: %s",
                       path.c_str(), std::strerror(errno));
        return false;
    }
    adopt(fd, *layout, path);
    return true;
}

// A headset just plugged in may not be open to the agent yet: its node's rights are set
// after the kernel announces it.
void HeadsetControls::retryPendingOpens() {
    for (auto pending = pendingOpens_.begin(); pending != pendingOpens_.end();) {
        if (openSystemDevice(pending->first, --pending->second <= 0) || pending->second <= 0)
            pending = pendingOpens_.erase(pending);
        else
            ++pending;
    }
    takeAddedDevices();
}

void HeadsetControls::readDevice(std::size_t index) {
    HeadsetDevice& device = *devices_[index];
    std::vector<HeadsetPress> presses;
    if (!device.readPresses(presses)) {
        logMessage(LogLevel::Normal, "HeadsetControls::readDevice(): Headset [%s] lost", device.name().c_str());
        devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(index));
        --deviceCount_;
        return;
    }
    for (HeadsetPress press : presses) onPress(press, device.name());
    if (!presses.empty()) showLights();
}

void HeadsetControls::onPress(HeadsetPress press, const std::string& device) {
    logMessage(LogLevel::Debug, "HeadsetControls::onPress(): [%s] pressed on [%s]", headsetPressName(press),
               device.c_str());
    const CallView view = agent_.headsetCallView();
    forgetEndedAnswer(view);
    switch (press) {
    case HeadsetPress::OffHook: answer(view); break;
    case HeadsetPress::OnHook: hangUp(view); break;
    case HeadsetPress::HookPress:
        if (view.inCall || answeredLineUp(view))
            hangUp(view);
        else
            answer(view);
        break;
    case HeadsetPress::Mute:
        if (view.inCall)
            agent_.toggleHold();
        else
            logMessage(LogLevel::Debug, "HeadsetControls::onPress(): No call to mute");
        break;
    case HeadsetPress::Flash: logMessage(LogLevel::Debug, "HeadsetControls::onPress(): Flash is not used"); break;
    }
}

void HeadsetControls::answer(const CallView& view) {
    if (view.ringingLine < 0) {
        logMessage(LogLevel::Debug, "HeadsetControls::answer(): No line is ringing");
        return;
    }
    logMessage(LogLevel::Debug, "HeadsetControls::answer(): Answering line %d", view.ringingLine + 1);
    answeredLine_ = view.ringingLine;
    answeredSeenUp_ = false;
    agent_.answerLine(view.ringingLine);
}

void HeadsetControls::hangUp(const CallView& view) {
    if (view.inCall) {
        answeredLine_ = -1;
        agent_.hangUp();
    } else if (answeredLineUp(view)) {
        // A call the agent took with the hook switch that the window offers no Hang Up for.
        logMessage(LogLevel::Debug, "HeadsetControls::hangUp(): Hanging up line %d", answeredLine_ + 1);
        agent_.dropLine(answeredLine_);
        answeredLine_ = -1;
    } else {
        logMessage(LogLevel::Debug, "HeadsetControls::hangUp(): No call to hang up");
    }
}

void HeadsetControls::forgetEndedAnswer(const CallView& view) {
    if (answeredLine_ < 0) return;
    if (view.lineUp[static_cast<std::size_t>(answeredLine_)]) {
        answeredSeenUp_ = true;
    } else if (answeredSeenUp_ || view.ringingLine != answeredLine_) {
        // The call ended, or was never taken: the line may carry another call later.
        answeredLine_ = -1;
    }
}

bool HeadsetControls::answeredLineUp(const CallView& view) const {
    return answeredLine_ >= 0 && view.lineUp[static_cast<std::size_t>(answeredLine_)];
}

void HeadsetControls::showLights() {
    if (devices_.empty()) return;
    const CallView view = agent_.headsetCallView();
    forgetEndedAnswer(view);
    const HeadsetLights lights{view.inCall || answeredLineUp(view), view.ringingLine >= 0, view.inCall && view.held};
    for (const auto& device : devices_) device->show(lights);
}
