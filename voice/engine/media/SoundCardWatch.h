#pragma once

#include <string>
#include <vector>

// Tells, without blocking, whether ALSA's view of the devices may have changed: a sound card
// plugged in or out (/dev/snd), or the ALSA configuration edited (~/.asoundrc,
// /etc/asound.conf), where devices such as those of a sound server are defined. Reading the
// device list itself is left to the caller, between calls, since it is slow.
class SoundCardWatch {
public:
    SoundCardWatch();
    ~SoundCardWatch();
    SoundCardWatch(const SoundCardWatch&) = delete;
    SoundCardWatch& operator=(const SoundCardWatch&) = delete;

    // Whether anything changed since the last call.
    bool changed();

private:
    struct Watch {
        int descriptor;
        std::string name;  // the one entry of the folder that matters; empty: any
    };
    void watch(const std::string& folder, const std::string& name, unsigned mask);

    int inotify_ = -1;
    std::vector<Watch> watches_;
};
