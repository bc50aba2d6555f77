#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "infra/ThreadGroup.h"
#include "recording/EndOfWrapUp.h"
#include "recording/Mp3Encoder.h"
#include "recording/RecorderTap.h"
#include "recording/RecordingAgent.h"
#include "recording/RecordingSettings.h"
#include "recording/RecordingStore.h"

class CallParam;
class VoiceEngine;

// Records the agent's calls: starts and stops the capture of the call in hand, encodes it to
// MP3 while the call runs, and hands each finished call to a worker that waits for the end of
// wrap-up and then uploads it, or keeps it on disk. Re-sends the stored recordings when a
// recording server is announced. Nothing is dropped but a call shorter than the minimum.
class CallRecorder {
public:
    struct Seams {
        VoiceEngine& voice;
        RecordingAgent& agent;
        const RecordingConfig& config;
        Mp3StreamFactory encoders = makeLameStream;
    };

    explicit CallRecorder(Seams seams);
    ~CallRecorder();
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    void StartRecording();
    void StopRecording();
    void SendCalltoQms();
    // The agent's wrap-up ended: the recordings that wait for it go on.
    void releaseEndOfWrapUp() { endOfWrapUp_.release(); }
    // A valid recording server was announced: the stored recordings are re-sent on a thread of
    // their own, unless recordings are kept locally.
    void startResend();
    // The clean close: returns once every recording handed to a worker is sent or stored.
    void waitForRecordings();
    // The end without a clean close: the call in hand is stopped and handed over, nothing waits
    // for wrap-up any more, what is not sent is kept on disk, and every thread ends.
    void shutdown();

    int numRecordings() const;
    RecordingStore& store() { return store_; }

private:
    using Worker = void (CallRecorder::*)(std::shared_ptr<CallParam>);

    std::shared_ptr<CallParam> current() const;
    void buildRecordingFileName(CallParam& recording);
    void sendNotice(const CallParam& recording);
    void handOver(std::shared_ptr<CallParam> recording, Worker worker, const char* startLog);
    void encodeRecord(std::shared_ptr<CallParam> recording);
    void keepRoomReady(std::shared_ptr<CallParam> recording);
    void waitForEncoding(std::shared_ptr<CallParam> recording);
    void getQMSfile(std::shared_ptr<CallParam> recording);
    void upload(CallParam& recording);
    void writeRecordingToDisk(CallParam& recording);
    void finish(const std::shared_ptr<CallParam>& recording);

    const Seams seams_;
    RecorderTap tap_;
    RecordingStore store_;
    EndOfWrapUp endOfWrapUp_;
    std::mutex encoderLock_;  // one recording is encoded at a time
    std::mutex resendLock_;   // one re-send run at a time, so no file is sent twice at once

    mutable std::mutex mutexRecording_;
    std::condition_variable recordingsFinished_;
    std::shared_ptr<CallParam> current_;
    int numRecordings_ = 0;

    std::atomic<bool> stopping_{false};
    ThreadGroup threads_;
};
