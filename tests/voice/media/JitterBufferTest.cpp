#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <vector>

#include "voice/engine/media/JitterBuffer.h"

namespace {

constexpr int kPacketMs = 20;
constexpr int kBlock = 160;

// Packet n carries 160 samples of the value 10 * (n + 1), so playout shows which packet played.
std::array<std::int16_t, kBlock> packetAudio(int n) {
    std::array<std::int16_t, kBlock> audio;
    audio.fill(static_cast<std::int16_t>(10 * (n % 3000 + 1)));
    return audio;
}

// Plays a packet stream through a buffer on a simulated clock: packet n is sent at 20 n ms
// (timestamp `base` + 20 n) and arrives `delay(n)` ms later (negative: never); a block is
// pulled every 20 ms, `phase` ms into the period.
class Playout {
public:
    explicit Playout(std::uint32_t base = 1000) : base_(base) {}

    void run(int firstPacket, int packets, const std::function<int(int)>& delay, int phase = 10) {
        struct Event {
            int time;
            int packet;  // -1: a pull
        };
        std::vector<Event> events;
        for (int n = firstPacket; n < firstPacket + packets; ++n)
            if (delay(n) >= 0) events.push_back({n * kPacketMs + delay(n), n});
        for (int t = firstPacket * kPacketMs; t < (firstPacket + packets) * kPacketMs; t += kPacketMs)
            events.push_back({t + phase, -1});
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.time < b.time; });
        for (const Event& event : events) {
            if (event.packet >= 0) {
                push(event.packet);
            } else {
                pull(event.time);
            }
        }
    }

    void push(int n, std::uint32_t timestampShift = 0) {
        const auto audio = packetAudio(n);
        buffer.push(base_ + timestampShift + static_cast<std::uint32_t>(n * kPacketMs), audio.data(), kBlock);
    }
    // A pull at `timeMs` on the simulated clock (-1: outside it).
    void pull(int timeMs = -1) {
        std::array<std::int16_t, kBlock> block;
        buffer.pull(block.data(), kBlock);
        for (int unit = 0; unit < 2; ++unit) {
            const std::int16_t* at = block.data() + unit * 80;
            const bool whole = std::all_of(at, at + 80, [&](std::int16_t s) { return s == at[0]; });
            const int packet = whole && at[0] > 0 && at[0] % 10 == 0 ? at[0] / 10 - 1 : -1;
            if (packet >= 0 && timeMs >= 0 && (played.empty() || played.back() != packet))
                latencies.push_back(timeMs - packet * kPacketMs);
            played.push_back(packet);
        }
        delays.push_back(buffer.delayMs());
    }
    // The packets played, in order, once each (units of concealment left out).
    std::vector<int> packetsPlayed() const {
        std::vector<int> packets;
        for (int value : played)
            if (value >= 0 && (packets.empty() || packets.back() != value)) packets.push_back(value);
        return packets;
    }
    // Mean time from sending to the start of playout, over the last `packets` packets played.
    double meanLatencyMs(std::size_t packets) const {
        packets = std::min(packets, latencies.size());
        double sum = 0;
        for (std::size_t i = latencies.size() - packets; i < latencies.size(); ++i) sum += latencies[i];
        return sum / static_cast<double>(packets);
    }

    JitterBuffer buffer;
    std::vector<int> played;     // per 10 ms unit: the packet, or -1
    std::vector<int> delays;     // buffer delay after each pull
    std::vector<int> latencies;  // per packet played on the simulated clock

private:
    std::uint32_t base_;
};

std::vector<int> range(int from, int to) {
    std::vector<int> values;
    for (int n = from; n < to; ++n) values.push_back(n);
    return values;
}

TEST(JitterBuffer, PlaysInOrderAudioWithinABlockOfItsArrival) {
    Playout playout;
    playout.run(0, 200, [](int) { return 0; });
    EXPECT_EQ(playout.packetsPlayed(), range(0, 199));
    EXPECT_LE(playout.meanLatencyMs(100), 30.0);  // the 10 ms to the next pull, and one unit of margin
    EXPECT_EQ(playout.buffer.stats().late, 0);
    EXPECT_EQ(playout.buffer.stats().played, 2 * 199);
}

TEST(JitterBuffer, PutsReorderedFramesBackInOrder) {
    Playout playout;
    // Every fourth pair of packets arrives swapped.
    playout.run(0, 100, [](int n) { return n % 8 == 4 ? 25 : n % 8 == 5 ? 0 : 5; });
    EXPECT_EQ(playout.packetsPlayed(), range(0, 99));
    EXPECT_EQ(playout.buffer.stats().late, 0);
}

TEST(JitterBuffer, ConcealsALostFrameByFadingTheLastOne) {
    Playout playout;
    playout.run(0, 30, [](int n) { return n == 10 ? -1 : 0; });
    auto expected = range(0, 29);
    expected.erase(expected.begin() + 10);
    EXPECT_EQ(playout.packetsPlayed(), expected);
    // The concealed units lie between packet 9 and packet 11 and are quieter than packet 9.
    const auto ninth = std::find(playout.played.begin(), playout.played.end(), 9);
    const auto eleventh = std::find(playout.played.begin(), playout.played.end(), 11);
    EXPECT_EQ(std::count(ninth, eleventh, -1), 2);
    EXPECT_EQ(playout.buffer.stats().concealed, 2 + 2);  // and the two units of the starting margin
}

TEST(JitterBuffer, DropsDuplicatesAndLateFrames) {
    Playout playout;
    for (int n = 0; n < 40; ++n) {
        playout.push(n);
        if (n == 15) playout.push(15);  // again
        if (n == 20) playout.push(2);   // long gone
        playout.pull();
    }
    EXPECT_EQ(playout.buffer.stats().duplicate, 1);
    EXPECT_EQ(playout.buffer.stats().late, 1);
    EXPECT_EQ(playout.packetsPlayed(), range(0, 39));
}

// A stall holds up packets 50 to 52 until 45 ms after packet 50 was due: the buffer runs dry,
// the playout waits for them, and nothing is lost.
TEST(JitterBuffer, WaitsThroughAStallAndLearnsTheMargin) {
    Playout playout;
    playout.run(0, 50, [](int) { return 0; });
    const int marginBefore = playout.buffer.marginMs();
    playout.run(50, 50, [](int n) { return n <= 52 ? 1045 - n * kPacketMs : 0; });
    const auto played = playout.packetsPlayed();
    EXPECT_EQ(played, range(0, played.back() + 1));
    EXPECT_GE(played.back(), 96);
    EXPECT_EQ(playout.buffer.stats().late, 0);
    EXPECT_GT(playout.buffer.marginMs(), marginBefore);
}

// Packet 50 alone is 45 ms late, so packets 51 and 52 overtake it: it is lost, and the playout
// stretches, so that the same lateness of packet 80 costs nothing.
TEST(JitterBuffer, LosesAFrameOvertakenByLaterOnesThenStretches) {
    Playout playout;
    playout.run(0, 50, [](int) { return 0; });
    playout.run(50, 50, [](int n) { return n == 50 || n == 80 ? 45 : 0; });
    const auto played = playout.packetsPlayed();
    auto expected = range(0, played.back() + 1);
    expected.erase(expected.begin() + 50);
    EXPECT_EQ(played, expected);
    EXPECT_GE(played.back(), 96);
    EXPECT_EQ(playout.buffer.stats().late, 1);
}

TEST(JitterBuffer, RestartsPlayoutOnATimestampJump) {
    Playout playout;
    playout.run(0, 20, [](int) { return 0; });
    // The sender's timestamps leap ahead by ten minutes, and later fall back by a minute.
    for (int n = 20; n < 40; ++n) {
        playout.push(n, 600000);
        playout.pull();
    }
    for (int n = 40; n < 60; ++n) {
        playout.push(n, 540000);
        playout.pull();
    }
    EXPECT_EQ(playout.buffer.stats().resyncs, 2);
    const auto played = playout.packetsPlayed();
    EXPECT_TRUE(std::is_sorted(played.begin(), played.end()));
    EXPECT_GE(played.back(), 57);
}

TEST(JitterBuffer, AfterAStallABurstIsBoundedAndTheDelayComesDown) {
    Playout playout;
    playout.run(0, 50, [](int) { return 0; });
    // A 700 ms stall, after which the held-up packets arrive at once.
    playout.run(50, 500, [](int n) { return n < 85 ? (85 - n) * kPacketMs : 0; });
    for (int delay : playout.delays) EXPECT_LE(delay, JitterBuffer::kMaxDelayUnits * JitterBuffer::kUnitMs);
    EXPECT_LE(playout.meanLatencyMs(50), 40.0);
    const auto played = playout.packetsPlayed();
    EXPECT_TRUE(std::is_sorted(played.begin(), played.end()));
    EXPECT_GE(played.back(), 548);
}

TEST(JitterBuffer, NeverHoldsMoreThanItsBound) {
    JitterBuffer buffer;
    const auto audio = packetAudio(0);
    for (int n = 0; n < 2000; ++n) buffer.push(static_cast<std::uint32_t>(n * kPacketMs), audio.data(), kBlock);
    EXPECT_LE(buffer.delayMs(), JitterBuffer::kCapacityUnits * JitterBuffer::kUnitMs);
    std::array<std::int16_t, kBlock> block;
    buffer.pull(block.data(), kBlock);
    EXPECT_LE(buffer.delayMs(), JitterBuffer::kMaxDelayUnits * JitterBuffer::kUnitMs);
    // A single payload longer than the whole ring keeps only what fits, each unit in its place.
    std::vector<std::int16_t> longPayload(8000 * 3);
    for (std::size_t i = 0; i < longPayload.size(); ++i) longPayload[i] = static_cast<std::int16_t>(i / 80 + 1);
    buffer.push(1000000, longPayload.data(), static_cast<int>(longPayload.size()));
    EXPECT_LE(buffer.delayMs(), JitterBuffer::kCapacityUnits * JitterBuffer::kUnitMs);
    for (int n = 0; n < 10; ++n) {  // while the kept audio lasts
        buffer.pull(block.data(), kBlock);
        EXPECT_LE(buffer.delayMs(), JitterBuffer::kMaxDelayUnits * JitterBuffer::kUnitMs);
        if (block[0] > 0) {
            EXPECT_EQ(block[80], block[0] + 1);
        }
    }
}

TEST(JitterBuffer, DelayGrowsWithJitterAndShrinksWhenTheNetworkIsSteady) {
    Playout playout;
    playout.run(0, 250, [](int) { return 0; });
    const double steadyLatency = playout.meanLatencyMs(100);

    // 20 s of packets delayed by 0 to 60 ms at random.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> jitter(0, 60);
    std::vector<int> delays(1250);
    for (int& delay : delays) delay = jitter(random);
    playout.run(250, 1000, [&](int n) { return delays[n]; });
    const double jitteryLatency = playout.meanLatencyMs(400);
    const long lateAfterAdapting = playout.buffer.stats().late;
    playout.run(1250, 0, [](int) { return 0; });

    playout.run(1250, 1500, [](int) { return 0; });
    const double calmLatency = playout.meanLatencyMs(100);

    EXPECT_LE(steadyLatency, 30.0);
    EXPECT_GE(jitteryLatency, 60.0);
    EXPECT_LE(jitteryLatency, 150.0);
    EXPECT_LE(lateAfterAdapting, 25);  // of 1000
    EXPECT_LE(calmLatency, 40.0);
    const auto played = playout.packetsPlayed();
    EXPECT_TRUE(std::is_sorted(played.begin(), played.end()));
}

// A clean path: packets arrive exactly on time, a minute long, while the audio clock's pulls
// fall in the same instants, before or after the packet as scheduling has it. Nothing may be
// dropped or made up once playout has started, whatever the order and the block size.
TEST(JitterBuffer, ASteadyStreamPlaysEveryUnitOnceForAMinuteWhicheverComesFirst) {
    for (const int blockSamples : {160, 240}) {
        for (const unsigned seed : {1u, 2u, 3u}) {
            JitterBuffer buffer;
            std::mt19937 random(seed);
            std::bernoulli_distribution pullFirst(seed == 1 ? 0.0 : 0.5);
            std::vector<std::int16_t> packet(blockSamples);
            std::vector<std::int16_t> block(blockSamples);
            int next = 0;  // the sample that must come next, 0 before playout starts
            int misplaced = 0;
            const int packets = 60 * 8000 / blockSamples;
            for (int n = 0; n < packets; ++n) {
                const bool pullBeforePush = pullFirst(random);
                if (pullBeforePush && n > 0) buffer.pull(block.data(), blockSamples);
                // Sample i of the stream is i % 30000 + 1: any gap or repeat shows.
                for (int i = 0; i < blockSamples; ++i)
                    packet[i] = static_cast<std::int16_t>((n * blockSamples + i) % 30000 + 1);
                buffer.push(static_cast<std::uint32_t>(n * blockSamples / 8), packet.data(), blockSamples);
                if (!pullBeforePush || n == 0) buffer.pull(block.data(), blockSamples);
                for (std::int16_t sample : block) {
                    if (sample == 0 && next == 0) continue;  // the starting margin
                    if (next != 0 && sample != next) ++misplaced;
                    next = sample % 30000 + 1;
                }
            }
            EXPECT_EQ(misplaced, 0) << blockSamples << " samples a block, order " << seed;
            EXPECT_EQ(buffer.stats().dropped, 0) << blockSamples << " samples a block, order " << seed;
            EXPECT_EQ(buffer.stats().late, 0);
            EXPECT_LE(buffer.stats().concealed, 3) << blockSamples << " samples a block, order " << seed;
        }
    }
}

TEST(JitterBuffer, PartialUnitsAndOddPacketSizesKeepTheirPlace) {
    JitterBuffer buffer;
    // 30 ms packets pulled in 30 ms blocks.
    std::vector<std::int16_t> audio(240);
    std::vector<std::int16_t> out(240);
    long nonZero = 0;
    for (int n = 0; n < 50; ++n) {
        std::fill(audio.begin(), audio.end(), static_cast<std::int16_t>(n + 1));
        buffer.push(static_cast<std::uint32_t>(n * 30), audio.data(), 240);
        buffer.pull(out.data(), 240);
        nonZero += std::count_if(out.begin(), out.end(), [](std::int16_t s) { return s != 0; });
    }
    EXPECT_GE(nonZero, 48 * 240);
    EXPECT_EQ(buffer.stats().late + buffer.stats().duplicate, 0);
}

}  // namespace
