#include "voice/SwitchRegistration.h"

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
    engine_.iaxc_register(agentId, password, address);
}

void SwitchRegistration::UnregisterChannels(const std::string& agentId, const std::string& password) {
    logMessage(LogLevel::Debug, "CImplementation:::UnregisterChannels");
    if (processingThreadRunning_) {
        logMessage(LogLevel::Debug, "1505 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!");
        engine_.iaxc_stop_processing_thread();
        processingThreadRunning_ = false;
    }
    engine_.iaxc_unregister_user(agentId, password, host_.get());
}

void SwitchRegistration::stopProcessingAfterRejection() { engine_.iaxc_stop_processing_thread(); }

void SwitchRegistration::stopOnShutdown() {
    if (!processingThreadRunning_) return;
    logMessage(LogLevel::Debug, "180 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!");
    engine_.iaxc_stop_processing_thread();
    processingThreadRunning_ = false;
}
