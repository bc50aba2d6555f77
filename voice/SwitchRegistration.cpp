#include "voice/SwitchRegistration.h"

#include <utility>

#include "AgentVocabulary.h"
#include "infra/CLogger.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/VoiceEngine.h"

SwitchRegistration::SwitchRegistration(VoiceEngine& engine, VoiceAgent& agent) : engine_(engine), agent_(agent) {}

void SwitchRegistration::setAsteriskHost(const std::string& host) {
    logMessage(LogLevel::Debug, "New Asterisk host:[%s]", host.c_str());
    host_.set(host);
}

void SwitchRegistration::setAsteriskPort(int port) { port_ = port; }

void SwitchRegistration::setAsteriskCodec(const std::string& codec) {
    logMessage(LogLevel::Debug, "New Asterisk codec:[%s]", codec.c_str());
    codec_.set(codec.empty() ? "CODEC_ULAW" : codec);
}

void SwitchRegistration::setAsteriskIaxPassword(const std::string& password) {
    logMessage(LogLevel::Debug, "New Asterisk Iax Password :[%s]", password.empty() ? "" : "****");
    iaxPassword_.set(password);
}

int SwitchRegistration::codecFormat(const std::string& codec) {
    if (codec == "ulaw") return iax_format::Ulaw;
    if (codec == "alaw") return iax_format::Alaw;
    if (codec == "ilbc") return iax_format::Ilbc;
    if (codec == "speex") return iax_format::Speex;
    if (codec == "gsm") return iax_format::Gsm;
    return iax_format::Ulaw;
}

std::string SwitchRegistration::switchAddress() const { return host_.get() + ":" + std::to_string(port_.load()); }

void SwitchRegistration::applyVoiceFormat() {
    engine_.iaxc_set_codec(codecFormat(codec_.get()));
    restartVoiceProcessing();
}

void SwitchRegistration::restartVoiceProcessing() {
    {
        std::lock_guard guard(lock_);
        stopAfterRelease_ = false;  // the loop is this login's now
    }
    if (processingThreadRunning_) {
        logMessage(LogLevel::Debug, "405 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!");
        engine_.iaxc_stop_processing_thread();
    }
    processingThreadRunning_ = true;
    logMessage(LogLevel::Debug, "412 !!!!!!!!! iaxc_start_processing_thread !!!!!!!!!!");
    engine_.iaxc_start_processing_thread();
}

void SwitchRegistration::registerWithSwitch(const std::string& agentId, const std::string& password,
                                            const std::string& host, int port) {
    restartVoiceProcessing();
    // No switch known at all would register nowhere and leave the agent logging in for ever.
    if (host == "NotAvailable" || host.empty()) {
        logMessage(LogLevel::Debug, "CImplementation::registerWithSwitch(): Cant register , no switch available");
        agent_.QueuePhoneEvent(agent::FailedEvent);
        return;
    }
    const std::string address = host + ":" + std::to_string(port);
    logMessage(LogLevel::Debug, "CImplementation::registerWithSwitch(): Switch host:[%s], Agent ID:[%s], Password:[%s]",
               address.c_str(), agentId.c_str(), "****");
    {
        std::lock_guard guard(lock_);
        registration_ = Registration::Requested;
    }
    engine_.iaxc_register(agentId, password, address);
}

// The release needs the loop: the switch answers it with a call token and a challenge first.
void SwitchRegistration::UnregisterChannels(const std::string& agentId, const std::string& password) {
    logMessage(LogLevel::Debug, "CImplementation:::UnregisterChannels");
    bool releaseUnderWay = false;
    {
        std::lock_guard guard(lock_);
        registration_ = Registration::None;
        releaseUnderWay = stopAfterRelease_;
        if (processingThreadRunning_) stopAfterRelease_ = true;
    }
    const int releases = engine_.iaxc_unregister_user(agentId, password, switchAddress());
    if (releases <= 0 && !releaseUnderWay) stopAfterRelease();
}

void SwitchRegistration::releaseFinished() { stopAfterRelease(); }

void SwitchRegistration::stopAfterRelease() {
    {
        std::lock_guard guard(lock_);
        if (!std::exchange(stopAfterRelease_, false)) return;
    }
    logMessage(LogLevel::Debug, "1505 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!");
    engine_.iaxc_stop_processing_thread();
    processingThreadRunning_ = false;
}

bool SwitchRegistration::registrationAccepted() {
    Registration before = Registration::None;
    std::function<void()> onRegistered;
    {
        std::lock_guard guard(lock_);
        before = std::exchange(registration_, Registration::Accepted);
        onRegistered = onRegistered_;
    }
    if (onRegistered) onRegistered();
    if (before != Registration::Lost && before != Registration::Renewing) return before != Registration::Accepted;
    logMessage(LogLevel::Warning, "SwitchRegistration::registrationAccepted(): Registered with the switch [%s] again",
               switchAddress().c_str());
    agent_.showTicker(TickerText::alert("Switch registration restored"));
    return false;
}

bool SwitchRegistration::registrationWanted() const {
    std::lock_guard guard(lock_);
    return registration_ != Registration::None;
}

bool SwitchRegistration::renewAfterNetworkChange() {
    std::lock_guard guard(lock_);
    if (registration_ == Registration::None) return false;
    if (registration_ != Registration::Requested) registration_ = Registration::Renewing;
    return true;
}

void SwitchRegistration::setOnRegistered(std::function<void()> onRegistered) {
    std::lock_guard guard(lock_);
    onRegistered_ = std::move(onRegistered);
}

bool SwitchRegistration::registrationRejected() {
    {
        std::lock_guard guard(lock_);
        if (registration_ == Registration::None || registration_ == Registration::Requested) return true;
        if (std::exchange(registration_, Registration::Lost) == Registration::Lost) return false;
    }
    logMessage(LogLevel::Error,
               "SwitchRegistration::registrationRejected(): Registration with the switch [%s] lost, registering again",
               switchAddress().c_str());
    agent_.showTicker(TickerText::alert("Switch registration lost, retrying..."));
    return false;
}

void SwitchRegistration::stopProcessingAfterRejection() { engine_.iaxc_stop_processing_thread(); }

void SwitchRegistration::stopOnShutdown() {
    if (!processingThreadRunning_) return;
    logMessage(LogLevel::Debug, "180 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!");
    engine_.iaxc_stop_processing_thread();
    processingThreadRunning_ = false;
}
