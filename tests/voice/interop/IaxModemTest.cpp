// Our IAX2 engine against IAX2 code not written here: Debian's iaxmodem, a soft fax modem built
// on libiax2, run as a black box. Its tty answers and dials like a modem; answering as a fax
// (class 1) it sends the 2100 Hz answer tone; with "record" it writes what it heard from us to
// /tmp/<peer name>-iax.raw.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "infra/Timing.h"
#include "lab/common/LabTone.h"
#include "lab/common/LabUdpSocket.h"
#include "lab/demo/LabChildProcess.h"
#include "lab/switch/LabWav.h"
#include "support/TempDir.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kModemWait = 10s;
constexpr double kOurHertz = 1000;
constexpr double kModemAnswerHertz = 2100;  // the answer tone of a fax that picks up
constexpr auto kAnswerToneTime = 2s;
const char* const kIaxModem = "/usr/bin/iaxmodem";

std::string describe(const std::vector<std::int16_t>& samples, double hertz) {
    return std::to_string(samples.size()) + " samples, power " + std::to_string(labtone::power(samples, hertz)) +
           " at " + std::to_string(static_cast<int>(hertz)) + " Hz";
}

std::uint16_t freeUdpPort() {
    const LabUdpSocket probe = LabUdpSocket::bindLoopback(0);
    return probe.valid() ? probe.localPort() : 0;
}

// One iaxmodem with a configuration of its own in /etc/iaxmodem, and its tty.
class IaxModem {
public:
    IaxModem(const TempDir& folder, std::uint16_t serverPort)
        : name_("orvane-test-" + std::to_string(::getpid())),
          device_("/tmp/" + name_ + ".tty"),  // iaxmodem takes only a short device path
          port_(freeUdpPort()) {
        std::ofstream config(configPath());
        config << "device " << device_ << "\nowner root:root\nmode 660\nport " << port_
               << "\nrefresh 0\nserver 127.0.0.1:" << serverPort << "\npeername " << name_
               << "\nsecret unused\ncidname Modem Test\ncidnumber 5550100\ncodec ulaw\nrecord\n";
        config.close();
        std::filesystem::remove(recordPath());
        started_ = process_.start({kIaxModem, name_}, {}, folder.str(), (folder.path() / "iaxmodem.err").string());
        for (auto deadline = std::chrono::steady_clock::now() + kModemWait; tty_ < 0 && std::chrono::steady_clock::now() < deadline;) {
            tty_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY);
            if (tty_ < 0) std::this_thread::sleep_for(50ms);
        }
        if (tty_ >= 0) {
            termios raw{};
            ::tcgetattr(tty_, &raw);
            ::cfmakeraw(&raw);
            ::tcsetattr(tty_, TCSANOW, &raw);
            type("AT+FCLASS=1\r");
            faxReady_ = waitFor("OK");
        }
    }
    ~IaxModem() {
        if (tty_ >= 0) ::close(tty_);
        process_.stop(5s);
        std::filesystem::remove(configPath());
        std::filesystem::remove(device_);
        std::filesystem::remove(recordPath());
        std::filesystem::remove("/tmp/" + name_ + "-dsp.raw");
    }

    bool ready() const { return started_ && faxReady_; }
    std::uint16_t port() const { return port_; }
    void type(const std::string& text) { ::write(tty_, text.data(), text.size()); }
    // Reads the tty until `text` appears, and forgets what was read up to it.
    bool waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kModemWait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (const auto at = seen_.find(text); at != std::string::npos) {
                seen_.erase(0, at + text.size());
                return true;
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(tty_, &readable);
            timeval pause{0, 50000};
            if (::select(tty_ + 1, &readable, nullptr, nullptr, &pause) > 0) {
                char buffer[256];
                const ssize_t count = ::read(tty_, buffer, sizeof buffer);
                if (count > 0) seen_.append(buffer, static_cast<std::size_t>(count));
            }
        }
        return false;
    }
    // What the modem heard from us (16-bit samples), once it has written them out.
    std::vector<std::int16_t> heard() const {
        const auto deadline = std::chrono::steady_clock::now() + kModemWait;
        std::error_code error;
        while (std::filesystem::file_size(recordPath(), error) == 0 || error) {
            if (std::chrono::steady_clock::now() > deadline) return {};
            std::this_thread::sleep_for(50ms);
        }
        std::ifstream in(recordPath(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

private:
    std::string configPath() const { return "/etc/iaxmodem/" + name_; }
    std::string recordPath() const { return "/tmp/" + name_ + "-iax.raw"; }

    const std::string name_;
    const std::string device_;
    const std::uint16_t port_;
    LabChildProcess process_;
    bool started_ = false;
    bool faxReady_ = false;
    int tty_ = -1;
    std::string seen_;
};

class IaxModemTest : public ::testing::Test {
protected:
    IaxModemTest() {
        Timing::setScale(1.0);
        labwav::write(file("microphone.wav"), labtone::make(kOurHertz, 2.0));
        engine = std::make_unique<IaxVoiceEngine>(
            IaxEngineConfig{"127.0.0.1", 0, supportedFormats()},
            makeMediaEngine({AudioConfig::Backend::Virtual, file("microphone.wav"), file("speaker.wav"), ""}));
        engine->iaxc_set_event_callback([this](const VoiceEvent& event) {
            std::lock_guard guard(lock);
            events.push_back(event);
            arrived.notify_all();
        });
    }
    void SetUp() override {
        if (::access(kIaxModem, X_OK) != 0) GTEST_SKIP() << "iaxmodem is not installed (scripts/install-deps installs it)";
        ASSERT_EQ(engine->iaxc_initialize(3), 0);
        ASSERT_EQ(engine->iaxc_start_processing_thread(), 0);
    }

    std::string file(const std::string& name) const { return (folder.path() / name).string(); }
    bool waitForState(int callNo, const std::function<bool(int state)>& match) {
        std::unique_lock guard(lock);
        return arrived.wait_for(guard, kModemWait, [&] {
            for (const VoiceEvent& event : events)
                if (event.type == VoiceEvent::State && event.callNo == callNo && match(event.state)) return true;
            return false;
        });
    }
    bool answered(int callNo) { return waitForState(callNo, [](int state) { return state & VoiceEvent::Complete; }); }
    bool ended(int callNo) {
        return waitForState(callNo, [](int state) { return state == 0; });
    }
    bool hasText(const std::string& text) {
        std::unique_lock guard(lock);
        return arrived.wait_for(guard, kModemWait, [&] {
            for (const VoiceEvent& event : events)
                if (event.type == VoiceEvent::Text && event.message == text) return true;
            return false;
        });
    }
    std::vector<std::int16_t> speaker() const {
        std::string error;
        return labwav::read(file("speaker.wav"), error).value_or(std::vector<std::int16_t>{});
    }

    TempDir folder;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<VoiceEvent> events;
    std::unique_ptr<IaxVoiceEngine> engine;
};

}  // namespace

TEST_F(IaxModemTest, WeCallTheModemItAnswersAudioFlowsBothWaysAndWeHangUp) {
    IaxModem modem(folder, 9);  // the modem places no call here: its server is never used
    ASSERT_TRUE(modem.ready());
    const int callNo = engine->iaxc_call("orvane@127.0.0.1:" + std::to_string(modem.port()) + "/100");
    ASSERT_EQ(callNo, 0);
    ASSERT_TRUE(modem.waitFor("RING"));
    modem.type("ATA\r");
    ASSERT_TRUE(answered(callNo));
    std::this_thread::sleep_for(kAnswerToneTime);
    const auto heardByUs = speaker();
    EXPECT_TRUE(labtone::present(heardByUs, kModemAnswerHertz, kOurHertz))
        << "we do not hear the modem's answer tone: " << describe(heardByUs, kModemAnswerHertz);
    engine->iaxc_dump_call();
    ASSERT_TRUE(ended(callNo));
    const auto heardByModem = modem.heard();
    EXPECT_TRUE(labtone::present(heardByModem, kOurHertz, kModemAnswerHertz))
        << "the modem did not hear us: " << describe(heardByModem, kOurHertz);
}

TEST_F(IaxModemTest, TheModemHangsUpFirstAndTheCallEnds) {
    IaxModem modem(folder, 9);
    ASSERT_TRUE(modem.ready());
    const int callNo = engine->iaxc_call("orvane@127.0.0.1:" + std::to_string(modem.port()) + "/100");
    ASSERT_TRUE(modem.waitFor("RING"));
    modem.type("ATA\r");
    ASSERT_TRUE(answered(callNo));
    std::this_thread::sleep_for(1s);
    modem.type("x");  // a key pressed while the fax connects stops it
    ASSERT_TRUE(modem.waitFor("OK"));
    modem.type("ATH\r");
    EXPECT_TRUE(ended(callNo));
}

TEST_F(IaxModemTest, TheModemCallsUsAndSelectingTheRingingLineAnswersIt) {
    IaxModem modem(folder, static_cast<std::uint16_t>(engine->boundPort()));
    ASSERT_TRUE(modem.ready());
    modem.type("ATDT555\r");
    ASSERT_TRUE(hasText("Incoming call on line 1"));
    {
        std::lock_guard guard(lock);
        const auto offered = std::find_if(events.begin(), events.end(), [](const VoiceEvent& event) {
            return event.type == VoiceEvent::Result && event.resultCode == VoiceEvent::IncomingCall;
        });
        ASSERT_NE(offered, events.end());
        EXPECT_EQ(offered->message, "5550100");
    }
    ASSERT_EQ(engine->iaxc_select_call(0), 0);
    ASSERT_TRUE(answered(0));
    std::this_thread::sleep_for(1500ms);
    engine->iaxc_dump_call();
    ASSERT_TRUE(ended(0));
    const auto heardByModem = modem.heard();
    EXPECT_TRUE(labtone::present(heardByModem, kOurHertz, kModemAnswerHertz))
        << "the modem did not hear us: " << describe(heardByModem, kOurHertz);
}
