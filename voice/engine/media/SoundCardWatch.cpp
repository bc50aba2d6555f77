#include "voice/engine/media/SoundCardWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "infra/CLogger.h"

namespace {

constexpr unsigned kEntryChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE;

}  // namespace

SoundCardWatch::SoundCardWatch() {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        logMessage(LogLevel::Warning, "Media: sound cards that come and go are not seen (inotify: %s)", std::strerror(errno));
        return;
    }
    // /dev/snd exists only while there is a card; without one, its creation is the news.
    if (::access("/dev/snd", F_OK) == 0)
        watch("/dev/snd", "", IN_CREATE | IN_DELETE);
    else
        watch("/dev", "snd", IN_CREATE);
    if (const char* home = std::getenv("HOME"); home && *home) watch(home, ".asoundrc", kEntryChanges);
    watch("/etc", "asound.conf", kEntryChanges);
}

SoundCardWatch::~SoundCardWatch() {
    if (inotify_ >= 0) ::close(inotify_);
}

void SoundCardWatch::watch(const std::string& folder, const std::string& name, unsigned mask) {
    const int descriptor = ::inotify_add_watch(inotify_, folder.c_str(), mask | IN_ONLYDIR);
    if (descriptor < 0) {
        logMessage(LogLevel::Debug, "Media: %s is not watched for sound changes: %s", folder.c_str(), std::strerror(errno));
        return;
    }
    watches_.push_back({descriptor, name});
}

bool SoundCardWatch::changed() {
    if (inotify_ < 0) return false;
    bool relevant = false;
    bool firstCard = false;
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t length = ::read(inotify_, buffer.data(), buffer.size());
        if (length <= 0) break;  // EAGAIN: all read
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const auto watch = std::find_if(watches_.begin(), watches_.end(),
                                            [&](const Watch& each) { return each.descriptor == event->wd; });
            if (watch == watches_.end()) continue;
            if (!watch->name.empty() && (event->len == 0 || watch->name != event->name)) continue;
            relevant = true;
            firstCard = firstCard || watch->name == "snd";
        }
    }
    if (firstCard) watch("/dev/snd", "", IN_CREATE | IN_DELETE);
    return relevant;
}
