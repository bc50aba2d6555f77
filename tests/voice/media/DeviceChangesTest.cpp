// Devices that come and go, over a sound system the test unplugs and plugs: a device lost
// mid-call gives way to the defaults at once; the list is read again only between calls, and
// a device chosen by name serves again from the next call once it is back.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "support/LogCapture.h"
#include "support/TimeScale.h"
#include "voice/engine/media/AudioEngine.h"
#include "voice/engine/media/Codec.h"

namespace {

using namespace std::chrono_literals;
using Change = MediaEngine::DeviceChange;

const AudioDevice kBuiltIn{"Built-in Audio", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, 0};
AudioDevice headsetAt(int id) {
    return {"Plantronics Blackwire", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, id};
}

// A sound system whose cards the test plugs in and out. The engine's device watch calls it
// from its own thread.
class HotplugBackend final : public AudioBackend {
public:
    bool initialize() override { return true; }
    std::vector<AudioDevice> devices() const override {
        std::lock_guard guard(lock_);
        return list_;
    }
    void defaultDevices(int& input, int& output, int& ring) const override { input = output = ring = kBuiltIn.id; }
    bool start(const StreamFormat& format, AudioStreamClient& client) override {
        std::lock_guard guard(lock_);
        starts_.push_back(format);
        client_ = &client;
        started_.notify_all();
        return true;
    }
    void stop() override {
        std::lock_guard guard(lock_);
        client_ = nullptr;
    }
    bool rescan() override {
        std::lock_guard guard(lock_);
        ++rescans_;
        list_ = plugged_;
        return true;
    }
    bool devicesMayHaveChanged() override {
        std::lock_guard guard(lock_);
        ++looks_;
        looked_.notify_all();
        return std::exchange(changed_, false);
    }

    // The cards now plugged in; the stream's device, when it went away, ends the stream.
    void plug(std::vector<AudioDevice> devices, bool streamEnds = false) {
        AudioStreamClient* client = nullptr;
        {
            std::lock_guard guard(lock_);
            plugged_ = std::move(devices);
            changed_ = true;
            if (streamEnds) client = client_;
        }
        if (client) client->streamLost();
    }
    // Returns once the device watch has looked for changes a few more times.
    bool watchHasLooked() {
        std::unique_lock guard(lock_);
        const int target = looks_ + 3;
        return looked_.wait_for(guard, 10s, [&] { return looks_ >= target; });
    }
    bool waitForStarts(std::size_t count) {
        std::unique_lock guard(lock_);
        return started_.wait_for(guard, 10s, [&] { return starts_.size() >= count; });
    }
    std::vector<StreamFormat> starts() const {
        std::lock_guard guard(lock_);
        return starts_;
    }
    int rescans() const {
        std::lock_guard guard(lock_);
        return rescans_;
    }
    bool running() const {
        std::lock_guard guard(lock_);
        return client_ != nullptr;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable looked_;
    std::condition_variable started_;
    std::vector<AudioDevice> list_{kBuiltIn, headsetAt(1)};
    std::vector<AudioDevice> plugged_ = list_;
    bool changed_ = false;
    int looks_ = 0;
    int rescans_ = 0;
    std::vector<StreamFormat> starts_;
    AudioStreamClient* client_ = nullptr;
};

class DeviceChanges : public ::testing::Test {
protected:
    DeviceChanges() {
        auto fake = std::make_unique<HotplugBackend>();
        backend = fake.get();
        engine = std::make_unique<AudioEngine>(std::move(fake));
        EXPECT_TRUE(engine->initialize());
        engine->setDeviceEvents([this](Change change, const std::string& detail) {
            std::lock_guard guard(lock);
            changes.emplace_back(change, detail);
            changed.notify_all();
        });
        engine->setDevices(1, 1, 1);  // the headset
    }
    ~DeviceChanges() override { engine.reset(); }  // its device watch tells this fixture

    bool waitForChanges(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 10s, [&] { return changes.size() >= count; });
    }
    std::pair<Change, std::string> change(std::size_t index) {
        std::lock_guard guard(lock);
        return changes.at(index);
    }
    int lastInput() const { return backend->starts().back().input; }

    ScopedTimeScale scale{0.01};
    LogCapture log;
    HotplugBackend* backend = nullptr;
    std::unique_ptr<AudioEngine> engine;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<Change, std::string>> changes;
};

TEST_F(DeviceChanges, ALostHeadsetGivesWayToTheDefaultsMidCallAndServesAgainFromTheNextCall) {
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    EXPECT_EQ(lastInput(), 1);

    backend->plug({kBuiltIn}, true);  // unplugged mid-call
    ASSERT_TRUE(waitForChanges(1));
    EXPECT_EQ(change(0).first, Change::Lost);
    EXPECT_EQ(change(0).second, "input [Plantronics Blackwire] output [Plantronics Blackwire]");
    ASSERT_EQ(backend->starts().size(), 2u);
    EXPECT_EQ(backend->starts().back().input, kBuiltIn.id);
    EXPECT_EQ(backend->starts().back().output, kBuiltIn.id);
    EXPECT_TRUE(backend->running()) << "the call goes on";
    EXPECT_TRUE(log.mentions("Media: audio device lost mid-call (input [Plantronics Blackwire] output [Plantronics Blackwire])"));

    backend->plug({kBuiltIn, headsetAt(2)});  // back, under another id, while the call still runs
    ASSERT_TRUE(backend->watchHasLooked());
    EXPECT_EQ(backend->rescans(), 0) << "the list is not read while a stream runs";
    EXPECT_EQ(backend->starts().size(), 2u) << "the running stream is left alone";

    engine->closeChannel(0);  // between calls: the list is read again
    ASSERT_TRUE(waitForChanges(2));
    EXPECT_EQ(change(1).first, Change::ListChanged);
    EXPECT_EQ(change(1).second, "2 devices: Built-in Audio, Plantronics Blackwire");
    int input = -1, output = -1, ring = -1;
    engine->currentDevices(input, output, ring);
    EXPECT_EQ(input, 2);

    ASSERT_TRUE(engine->openChannel(1, iax_format::Ulaw));  // the next call
    EXPECT_EQ(lastInput(), 2);
    engine->closeChannel(1);
}

TEST_F(DeviceChanges, AChosenDeviceMissingAtTheStartOfACallIsReplacedByTheDefault) {
    backend->plug({kBuiltIn});
    ASSERT_TRUE(waitForChanges(1));
    EXPECT_EQ(change(0).second, "1 devices: Built-in Audio");
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    EXPECT_EQ(lastInput(), kBuiltIn.id);
    EXPECT_TRUE(log.contains("Media: input device [Plantronics Blackwire] is not there or cannot serve, default 0 used"));
    engine->closeChannel(0);
}

// A default device that fails as well is started again (after a pause, not in a tight loop),
// and the agent is told of the loss once.
TEST_F(DeviceChanges, ADefaultThatFailsTooIsStartedAgainAndTheLossToldOnce) {
    ASSERT_TRUE(engine->openChannel(0, iax_format::Ulaw));
    backend->plug({kBuiltIn}, true);
    ASSERT_TRUE(waitForChanges(1));
    backend->plug({kBuiltIn}, true);  // the default fails too
    ASSERT_TRUE(backend->waitForStarts(3));
    ASSERT_TRUE(backend->watchHasLooked());
    std::lock_guard guard(lock);
    EXPECT_EQ(changes.size(), 1u);
}

}  // namespace
