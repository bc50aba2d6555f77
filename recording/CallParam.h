#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recording/RecordedSamples.h"
#include "recording/RecordingAgent.h"

// One recorded call: its facts, its audio, its file image once complete, and the marks the
// tap, the encoder and the upload leave on it. Created when the call starts recording and
// released by the worker that stores or sends it.
class CallParam {
public:
    // What the recording settings were when the call started; the recording keeps to them.
    struct Plan {
        bool mp3 = false;
        std::string encodingQuality;
        int minSeconds = 0;
        int maxSeconds = 0;
        std::uint64_t wrapUpMark = 0;  // ends of wrap-up before the call started
    };

    static constexpr std::size_t kTrackNumberLength = 100;

    CallParam(const RecordingFacts& facts, Plan plan);
    CallParam(const CallParam&) = delete;
    CallParam& operator=(const CallParam&) = delete;

    const Plan& plan() const { return plan_; }
    const std::string& trackNumber() const { return trackNumber_; }
    const std::string& callTime() const { return callTime_; }
    std::string ani() const;
    void setAni(std::string ani);

    std::string fileName() const;
    void setFileName(std::string name);
    // The name without its extension, as the CTI server is told it.
    std::string fileNameWithoutExtension() const;

    // The tagging of this call, kept when the next call starts and resets the agent's.
    void freezeTagging(const RecordingTagging& tagging);
    std::optional<RecordingTagging> frozenTagging() const;

    RecordedSamples& samples() { return samples_; }
    const RecordedSamples& samples() const { return samples_; }
    // 2 once the minimum length was captured, else 0.
    int lengthState() const { return samples_.reachedMinimum() ? 2 : 0; }

    // The file image: the MP3 the encoder made, or else the WAV of the samples.
    void setMp3Image(std::vector<std::uint8_t> image);
    void assembleWav();
    bool holdsMp3() const;
    std::span<const std::uint8_t> fileImage() const;
    // The extension the file image calls for.
    std::string extension() const;

    // The file image is complete (the encoder finished, or no MP3 is made and the call ended).
    // (The recording's `semEncoding`: released once, waited for by the worker that stores or sends it.)
    void completeImage();
    void waitForImage() const;

    // True for the first request only.
    bool requestSend() { return !sendRequested_.exchange(true); }
    // The recording was stopped at the end of its call.
    void markCallEnded() { callEnded_ = true; }
    bool callEnded() const { return callEnded_; }

    // Frees the audio and the image.
    void release();

private:
    const Plan plan_;
    const std::string trackNumber_;
    const std::string callTime_;
    RecordedSamples samples_;

    mutable std::mutex lock_;
    std::string ani_;
    std::string fileName_;
    std::optional<RecordingTagging> frozenTagging_;
    std::vector<std::uint8_t> mp3_;
    std::span<const std::uint8_t> image_;

    std::atomic<bool> semEncoding_{false};
    std::atomic<bool> sendRequested_{false};
    std::atomic<bool> callEnded_{false};
};
