#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lab/switch/LabAudioSource.h"
#include "lab/switch/LabVoiceCodec.h"
#include "lab/switch/LabWav.h"

// The audio of one answered call: what the far party says to the phone, encoded in the call's
// format, and what arrives from the phone, decoded and kept twice: as received, and as the far
// party hears it (the phone's audio, or music on hold or silence while the call is held).
// Each kept stream holds at most kMaxKeptSamples in memory; the WAV file gets everything.
class LabCallAudio {
public:
    static constexpr std::size_t kBlockSamples = LabVoiceCodec::kFrameSamples;
    static constexpr std::chrono::milliseconds kBlock{20};
    static constexpr std::size_t kMaxKeptSamples = 8000 * 120;

    // `recordPath` empty: no file.
    LabCallAudio(std::uint32_t format, LabAudioSource farParty, double musicOnHoldHertz, const std::string& recordPath);

    // The next block the far party says, encoded.
    std::string nextFrame();
    // Whether a voice frame stamped `timestamp` must go as a full frame: the first one, and
    // each time the low 16 bits that a mini frame carries wrap.
    bool needsFullFrame(std::uint32_t timestamp);

    // The format the phone's voice comes in from now on (a full voice frame says it).
    void receiveFormat(std::uint32_t format);
    // Decodes a payload from the phone; false when it does not decode. A held call keeps it
    // out of what the far party hears.
    bool receive(std::string_view payload, bool held);
    // One block of a held call: music on hold or silence in what the far party hears.
    void holdBlock(bool musicOnHold);

    std::uint32_t format() const { return format_; }
    const std::vector<std::int16_t>& received() const { return received_; }
    const std::vector<std::int16_t>& heard() const { return heard_; }
    bool recording() const { return file_.isOpen(); }
    void close() { file_.close(); }

private:
    static void keep(std::vector<std::int16_t>& stream, const std::int16_t* samples, std::size_t count);

    std::uint32_t format_;
    std::unique_ptr<LabVoiceCodec> encoder_;
    std::unique_ptr<LabVoiceCodec> decoder_;
    std::uint32_t decoderFormat_;
    LabAudioSource farParty_;
    LabAudioSource musicOnHold_;
    std::optional<std::uint32_t> lastTimestamp_;
    std::vector<std::int16_t> received_;
    std::vector<std::int16_t> heard_;
    LabWavWriter file_;
};
