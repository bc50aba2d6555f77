#pragma once

// A PulseAudio server of a test's own, reached by PortAudio through ALSA's pulse plugin.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

extern char** environ;

namespace pulse_lab {

using namespace std::chrono_literals;

inline std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ALSA unloads the plugins it probed when PortAudio ends, leaving what their static data held
// unreachable, which LeakSanitizer takes for leaks. Loaded here first, they stay resident.
inline void keepAlsaPluginsLoaded() {
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(ALSA_PLUGIN_DIR, missing))
        dlopen(entry.path().c_str(), RTLD_LAZY | RTLD_NODELETE);
}

// Points HOME and XDG_RUNTIME_DIR of this process (and so of PortAudio and of the server) into
// a scratch folder of its own under /tmp: the server's socket path must stay short.
class SoundHome {
public:
    SoundHome() {
        keepAlsaPluginsLoaded();
        char pattern[] = "/tmp/orvane-sound-XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
        const std::string home = path_ + "/home", runtime = path_ + "/run";
        ::mkdir(home.c_str(), 0700);
        ::mkdir(runtime.c_str(), 0700);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~SoundHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    SoundHome(const SoundHome&) = delete;
    SoundHome& operator=(const SoundHome&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A PulseAudio server of this test's own, stopped and reaped at the end.
class PulseServer {
public:
    explicit PulseServer(const std::string& logFile) {
        const char* argv[] = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--log-target=stderr",
                              "-L", "module-null-sink sink_name=vsink rate=8000 channels=1",
                              "-L", "module-null-source source_name=vsrc rate=8000 channels=1",
                              "-L", "module-native-protocol-unix", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int error = posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) pid_ = -1;
    }
    ~PulseServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int wait = 0; wait < 100; ++wait) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(20ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool started() const { return pid_ > 0; }

    // Waits until the server answers, then makes the sink's monitor the default source.
    bool readyAsLoopback() const {
        if (pid_ <= 0) return false;
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (std::system("pactl info >/dev/null 2>&1") == 0)
                return std::system("pactl set-default-sink vsink && pactl set-default-source vsink.monitor") == 0;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace pulse_lab
