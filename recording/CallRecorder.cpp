#include "recording/CallRecorder.h"

#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <ctime>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "recording/CallParam.h"
#include "recording/QMS.h"
#include "recording/RecordingFileName.h"

namespace {

constexpr std::size_t kLongestAni = 50;

// The local time as "year.month.day.hour.minute.second".
std::string localCallTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[80];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d.%02d.%02d.%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

// Uploads give way to everything else on the machine, the audio above all.
void lowerThisThreadsPriority() { ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19); }

unsigned addressOf(const CallParam& recording) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&recording));
}

}  // namespace

CallRecorder::CallRecorder(Seams seams) : seams_(std::move(seams)), tap_(seams_.voice) {}

CallRecorder::~CallRecorder() { shutdown(); }

std::shared_ptr<CallParam> CallRecorder::current() const {
    std::lock_guard guard(mutexRecording_);
    return current_;
}

int CallRecorder::numRecordings() const {
    std::lock_guard guard(mutexRecording_);
    return numRecordings_;
}

void CallRecorder::StartRecording() {
    logMessage(LogLevel::Debug, "CImplementation::StartRecording()");
    if (const std::shared_ptr<CallParam> previous = current()) {
        // Stopping it again would forget the new call's time.
        if (!previous->callEnded()) StopRecording();
        // Its tagging is kept before this call resets the agent's.
        previous->freezeTagging(seams_.agent.recordingFacts().tagging);
        endOfWrapUp_.release();
    }
    seams_.agent.requestCtiTime();
    seams_.agent.startCallTimer();
    logMessage(LogLevel::Normal, "STARTED RECORDING");

    RecordingFacts facts = seams_.agent.recordingFacts();
    const std::string now = localCallTime();
    if (facts.callTime.empty()) facts.callTime = now;
    facts.tagging = {false, facts.defaultClient, facts.defaultCampaign, "000"};
    if (facts.ani.empty()) facts.ani = "na";
    facts.trackNumber = facts.trackNumber.substr(0, CallParam::kTrackNumberLength);
    seams_.agent.beginRecordedCall(facts);

    const RecordingSettings settings = seams_.config.recording();
    auto recording = std::make_shared<CallParam>(
        facts, CallParam::Plan{settings.mp3Encoding, settings.encodingQuality, settings.minRecordingTime,
                               settings.maxRecordingTime, endOfWrapUp_.mark()});
    buildRecordingFileName(*recording);
    {
        std::unique_lock guard(mutexRecording_);
        if (current_) {
            guard.unlock();
            SendCalltoQms();
            guard.lock();
        }
        current_ = recording;
    }

    logMessage(LogLevel::Normal, "starting recording in ");
    if (!settings.active) {
        logMessage(LogLevel::Normal, "StartRecording() no recording wanted");
        return;
    }
    tap_.recorderStart(settings.minRecordingTime, settings.maxRecordingTime, recording);
    if (settings.mp3Encoding) {
        threads_.start([this, recording] { encodeRecord(recording); });
    } else {
        logMessage(LogLevel::Normal, "Will not encode the file to MP3");
        threads_.start([this, recording] { keepRoomReady(recording); });
    }
    logMessage(LogLevel::Normal, "Started recording - ani[%s] call_time[%s] tracknum[%s]", facts.ani.c_str(),
               facts.callTime.c_str(), facts.trackNumber.c_str());
}

void CallRecorder::StopRecording() {
    logMessage(LogLevel::Debug, "In StopRecording()");
    seams_.agent.endRecordedCall();
    // The tap never outlives its call, whatever the settings say now.
    tap_.recorderStop();
    const std::shared_ptr<CallParam> recording = current();
    // A recording the tap never fed (the minimum not below the maximum) ends here too.
    if (recording) {
        recording->samples().stop();
        recording->markCallEnded();
    }
    if (!seams_.config.recording().active) {
        logMessage(LogLevel::Normal, "out of Stop recording: no recording wanted");
        return;
    }
    if (recording) {
        const std::string ani = recording->ani();
        if (ani == "na") logMessage(LogLevel::Error, "Stop recording, ERROR unavailable CallerID[%s]", ani.c_str());
        if (ani.size() > kLongestAni) {
            logMessage(LogLevel::Error, "Stop recording, ERROR CallerID more than 50 characters[%s]", ani.c_str());
            recording->setAni("na");
        }
    }
    logMessage(LogLevel::Normal, "Stopped recording");
    seams_.agent.clearTickerAfterCall();
    if (recording && !recording->plan().mp3) recording->completeImage();
}

void CallRecorder::SendCalltoQms() {
    logMessage(LogLevel::Debug, "SendCalltoQms(): Entering SendCalltoQms");
    std::shared_ptr<CallParam> recording;
    bool firstRequest = false;
    {
        std::lock_guard guard(mutexRecording_);
        recording = current_;
        if (recording) firstRequest = recording->requestSend();
    }
    if (!recording) {
        logMessage(LogLevel::Debug, "SendCalltoQms(): Nothing to send / pCallParam is NULL");
        return;
    }
    buildRecordingFileName(*recording);
    if (!seams_.config.recording().active) {
        {
            std::lock_guard guard(mutexRecording_);
            if (current_ == recording) current_.reset();
        }
        sendNotice(*recording);
        logMessage(LogLevel::Debug, "SendCalltoQms(): Nothing to send recording not wanted");
        return;
    }
    if (!firstRequest) {
        logMessage(LogLevel::Debug, "SendCalltoQms(): Already asked to be sent");
        return;
    }
    sendNotice(*recording);
    if (recording->lengthState() != 2) {
        logMessage(LogLevel::Debug, "SendCalltoQms(): Recording too small, not saving");
        handOver(recording, &CallRecorder::waitForEncoding, nullptr);
        return;
    }
    if (seams_.config.keepsRecordingsLocally()) {
        logMessage(LogLevel::Debug, "SendCalltoQms(): Will wait for the encoding to be done");
        handOver(recording, &CallRecorder::waitForEncoding, nullptr);
    } else {
        logMessage(LogLevel::Debug, "SendCalltoQms(): will increase the numRecordings");
        handOver(recording, &CallRecorder::getQMSfile, "SendCalltoQms(): Starting the getQMSfile thread");
    }
    logMessage(LogLevel::Debug, "SendCalltoQms");
}

void CallRecorder::handOver(std::shared_ptr<CallParam> recording, Worker worker, const char* startLog) {
    {
        std::lock_guard guard(mutexRecording_);
        ++numRecordings_;
    }
    if (startLog) logMessage(LogLevel::Debug, "%s", startLog);
    threads_.start([this, recording = std::move(recording), worker]() mutable { (this->*worker)(std::move(recording)); });
}

void CallRecorder::buildRecordingFileName(CallParam& recording) {
    logMessage(LogLevel::Normal, "Entering tagging of filename and status from webpage");
    // The agent's facts first: a tagging kept meanwhile, when the next call started, wins.
    const RecordingFacts facts = seams_.agent.recordingFacts();
    const RecordingTagging tagging = recording.frozenTagging().value_or(facts.tagging);
    RecordingNameParts parts;
    if (tagging.tagged) {
        parts.client = tagging.client.substr(0, kTagTextLength);
        parts.campaign = tagging.campaign.substr(0, kTagTextLength);
        parts.status = tagging.status.substr(0, kTagStatusLength);
        logMessage(LogLevel::Normal, "Appending client : %s campaign : %s status : %s to the filename",
                   parts.client.c_str(), parts.campaign.c_str(), parts.status.c_str());
    } else {
        logMessage(LogLevel::Normal, "No status to append to the filename, using defaults");
        parts.client = facts.defaultClient;
        parts.campaign = facts.defaultCampaign;
        parts.status = "000";
    }
    parts.agentId = facts.agentId;
    parts.callTime = recording.callTime();
    parts.ani = recording.ani();
    parts.switchHost = facts.switchHost;
    parts.trackNumber = recording.trackNumber();
    parts.extension = recording.extension();
    std::string name = recordingFileName(parts);
    logMessage(LogLevel::Normal, "Filename to send : %s and size %d : ", name.c_str(), static_cast<int>(name.size() + 2));
    recording.setFileName(std::move(name));
}

void CallRecorder::sendNotice(const CallParam& recording) {
    seams_.agent.sendRecordingNotice(recording.trackNumber(), recording.fileNameWithoutExtension());
}

void CallRecorder::encodeRecord(std::shared_ptr<CallParam> recording) {
    logMessage(LogLevel::Debug, "encodeRecord(): start");
    RecordedSamples& samples = recording->samples();
    while (samples.count() < samples.minSamples() && !samples.stopped())
        samples.waitForSamples(samples.minSamples(), Timing::scaled(intervals::kRecordingEncoderPoll));
    int size = -1;
    {
        std::lock_guard guard(encoderLock_);
        if (std::unique_ptr<Mp3Stream> stream = seams_.encoders()) size = encodeRecordingToMp3(*recording, *stream);
    }
    if (size < 0) {
        logMessage(LogLevel::Debug, "Encoding didn't work... falling back to WAV");
        recording->assembleWav();
    } else {
        samples.release();  // the MP3 is the file now
    }
    recording->completeImage();
}

// Without an encoder following the tap, this keeps the pages ahead of it ready, so the audio
// thread never faults them in.
void CallRecorder::keepRoomReady(std::shared_ptr<CallParam> recording) {
    RecordedSamples& samples = recording->samples();
    while (!samples.stopped()) {
        samples.prepareAhead(RecordedSamples::kReadySeconds);
        samples.waitForSamples(INT_MAX, Timing::scaled(intervals::kRecordingRoomPoll));  // until it stops
    }
}

void CallRecorder::waitForEncoding(std::shared_ptr<CallParam> recording) {
    logMessage(LogLevel::Debug, "waitForEncoding [%p]", static_cast<void*>(recording.get()));
    endOfWrapUp_.waitAfter(recording->plan().wrapUpMark);
    logMessage(LogLevel::Debug, "waitForEncoding Locking semEncoding %p", static_cast<void*>(recording.get()));
    recording->waitForImage();
    if (recording->lengthState() == 2) {
        if (!recording->holdsMp3()) recording->assembleWav();
        buildRecordingFileName(*recording);
        writeRecordingToDisk(*recording);
    }
    logMessage(LogLevel::Debug, "waitForEncoding Locking mutexRecording %p", static_cast<void*>(recording.get()));
    finish(recording);
    logMessage(LogLevel::Debug, "waitForEncoding Over with the wait %p", static_cast<void*>(recording.get()));
}

void CallRecorder::getQMSfile(std::shared_ptr<CallParam> recording) {
    lowerThisThreadsPriority();
    logMessage(LogLevel::Debug, "getQMSfile(): start");
    logMessage(LogLevel::Debug, "Entering getQMSFile with recording buffer at address[%08x]", addressOf(*recording));
    logMessage(LogLevel::Debug, "getQMSFile(): Waiting for the recording to be encoded/written");
    recording->waitForImage();
    if (!recording->holdsMp3()) recording->assembleWav();
    const bool wrapUpEnded = endOfWrapUp_.waitAfter(recording->plan().wrapUpMark);
    buildRecordingFileName(*recording);  // the tagging of the wrap-up reaches the name
    sendNotice(*recording);
    if (wrapUpEnded)
        upload(*recording);
    else  // the program ends: kept for the next re-send
        writeRecordingToDisk(*recording);
    logMessage(LogLevel::Debug, "QMS terminated, freeing memory of recording buffer at address[%08x]",
               addressOf(*recording));
    finish(recording);
    logMessage(LogLevel::Debug, "Out of QMS thread");
}

void CallRecorder::upload(CallParam& recording) {
    const RecordServer server = seams_.config.recordServer();
    QMS qms({server.host, server.port, server.ssl, seams_.config.recordingServerCaFile()}, store_);
    const std::string name = recording.fileName();
    const std::span<const std::uint8_t> image = recording.fileImage();
    logMessage(LogLevel::Debug, "Sending recording file[%s] to QMS[%s:%d]", name.c_str(), server.host.c_str(),
               server.port);
    for (int attempt = 1; attempt <= intervals::kQmsUploadAttempts; ++attempt) {
        if (qms.sendRecordingToQMS(name, image)) {
            logMessage(LogLevel::Debug, "Recording buffer successfully sent");
            return;
        }
        logMessage(LogLevel::Warning, "Error while sending recording... trying again %d attempts", attempt);
    }
    logMessage(LogLevel::Error, "Could not send recording to server, writing %s [%d bytes] to disk.", name.c_str(),
               static_cast<int>(image.size()));
    qms.writeToDisk(name, image);
}

void CallRecorder::writeRecordingToDisk(CallParam& recording) {
    const std::string name = recording.fileName();
    const std::span<const std::uint8_t> image = recording.fileImage();
    logMessage(LogLevel::Error, "writeRecordingToDisk() - Writing file to disk: %s", name.c_str());
    if (store_.write(name, image)) {
        store_.writeHeld();
        return;
    }
    logMessage(LogLevel::Error, "writeRecordingToDisk() - Can't create file on disk");
    store_.hold(name, std::vector<std::uint8_t>(image.begin(), image.end()));
}

void CallRecorder::finish(const std::shared_ptr<CallParam>& recording) {
    recording->release();
    {
        std::lock_guard guard(mutexRecording_);
        --numRecordings_;
        if (current_ == recording) current_.reset();
    }
    recordingsFinished_.notify_all();
}

void CallRecorder::startResend() {
    if (seams_.config.keepsRecordingsLocally()) return;
    const RecordServer server = seams_.config.recordServer();
    QMS::Server target{server.host, server.port, server.ssl, seams_.config.recordingServerCaFile()};
    threads_.start([this, target] {
        std::lock_guard guard(resendLock_);
        if (stopping_) return;
        QMS qms(target, store_);
        qms.localRecordingSender(stopping_);
    });
}

void CallRecorder::waitForRecordings() {
    std::unique_lock guard(mutexRecording_);
    recordingsFinished_.wait(guard, [this] { return numRecordings_ == 0; });
}

void CallRecorder::shutdown() {
    if (stopping_.exchange(true)) return;
    endOfWrapUp_.cancel();
    tap_.recorderStop();
    if (const std::shared_ptr<CallParam> recording = current()) {
        recording->samples().stop();
        if (!recording->plan().mp3) recording->completeImage();
        SendCalltoQms();  // unless it was already handed over
    }
    threads_.join();
    store_.writeHeld();
    const std::size_t lost = store_.heldCount();
    if (lost > 0) logMessage(LogLevel::Error, "%d recordings could not be written or sent and are lost", static_cast<int>(lost));
}
