#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "infra/Timing.h"
#include "lab/LabTestWaits.h"
#include "lab/switch/IaxTestPhone.h"
#include "lab/switch/LabPcap.h"
#include "lab/switch/LabSwitch.h"
#include "support/Shell.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using namespace testiax;


// Every datagram the switch sent and received in a registration, a call with voice, DTMF and
// a hold, a call it placed and the hang-ups, decoded by an independent dissector.
TEST(LabSwitchTshark, DecodesEverythingTheSwitchSentWithoutAMalformedPacket) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed (scripts/install-deps)";
    Timing::setScale(0.01);
    TempDir dir;
    const std::string capture = (dir.path() / "switch.pcap").string();
    LabSwitchOptions options;
    options.users = {{"1001", "pw1001"}};
    options.callTokens = true;
    options.captureFile = capture;
    LabSwitch lab(options);
    ASSERT_TRUE(lab.start());
    Phone phone(lab.port());

    Leg registration = phone.leg();
    phone.sendIax(registration, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}, {kToken, ""}});
    const auto token = phone.expect(kIax, kCallToken, kWait);
    ASSERT_TRUE(token);
    Leg again{registration.local, 0, 0, 0};
    phone.sendIax(again, kRegReq, {{kUsername, "1001"}, {kRefresh, u16(60)}, {kToken, token->element(kToken)}});
    const auto challenge = phone.expectOn(again, kIax, kRegAuth, kWait);
    ASSERT_TRUE(challenge);
    phone.sendIax(again, kRegReq, {{kUsername, "1001"}, {kMd5, md5Hex(challenge->element(kChallenge) + "pw1001")}});
    const auto registered = phone.expectOn(again, kIax, kRegAck, kWait);
    ASSERT_TRUE(registered);
    phone.ack(again, *registered);

    Leg call = phone.leg();
    const Elements offer = {{kVersion, u16(2)}, {kCalled, "ZQ1001"}, {kUsername, "1001"}, {kFormat, u32(kUlaw)},
                            {kCapability, u32(kUlaw | kGsm)}};
    Elements withToken = offer;
    withToken.push_back({kToken, ""});
    phone.sendIax(call, kNew, withToken);
    const auto callToken = phone.expect(kIax, kCallToken, kWait);
    ASSERT_TRUE(callToken);
    Leg leg{call.local, 0, 0, 0};
    withToken.back().second = callToken->element(kToken);
    phone.sendIax(leg, kNew, withToken);
    const auto authenticate = phone.expectOn(leg, kIax, kAuthReq, kWait);
    ASSERT_TRUE(authenticate);
    phone.sendIax(leg, kAuthRep, {{kMd5, md5Hex(authenticate->element(kChallenge) + "pw1001")}});
    for (const auto& [type, subclass] : {std::pair{kIax, kAccept}, {kControl, kRinging}, {kControl, kAnswer}}) {
        const auto frame = phone.expectOn(leg, type, subclass, kWait);
        ASSERT_TRUE(frame);
        phone.ack(leg, *frame);
    }
    phone.acknowledgeVoiceOn(&leg);
    phone.sendUlawTone(leg, 1000, 10, 100);
    phone.send(leg, kIax, kPing);
    phone.send(leg, kIax, kLagRq);
    phone.send(leg, kDtmf, '7');
    phone.sendIax(leg, kQuelch, {{kMusicOnHold, ""}});
    phone.drain(100ms);
    phone.sendIax(leg, kUnquelch);
    phone.drain(100ms);
    phone.sendIax(leg, kHangup, {{kCause, "Dumped Call"}});
    ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& info) { return info.state == LabCallState::Ended; }, kWait));

    const auto placed = lab.originate("1001", "5551234", "Customer");
    ASSERT_TRUE(placed);
    Leg incoming = phone.leg();
    ASSERT_TRUE(phone.expectOn(incoming, kIax, kNew, kWait));
    phone.sendIax(incoming, kAccept, {{kFormat, u32(kUlaw)}});
    phone.send(incoming, kControl, kAnswer);
    phone.drain(100ms);
    ASSERT_TRUE(lab.hangUp(*placed));
    const auto hangup = phone.expectOn(incoming, kIax, kHangup, kWait);
    ASSERT_TRUE(hangup);
    phone.ack(incoming, *hangup);
    phone.drain(50ms);
    lab.stop();
    Timing::setScale(1.0);

    const auto datagrams = readLabPcapUdp(capture).datagrams;
    ASSERT_GT(datagrams.size(), 30u);
    const std::string port = std::to_string(lab.port());
    const std::string summary = commandOutput("tshark -r " + capture + " -d udp.port==" + port + ",iax2 2>&1");
    EXPECT_EQ(summary.find("Malformed"), std::string::npos) << summary;
    for (const char* name : {"CALLTOKEN", "REGAUTH", "REGACK", "AUTHREQ", "ACCEPT", "RINGING", "ANSWER", "Voice",
                             "Mini packet", "HANGUP", "PONG", "LAGRP", "NEW", "QUELCH", "DTMF"})
        EXPECT_NE(summary.find(name), std::string::npos) << name << " missing in\n" << summary;
    const std::string details = commandOutput("tshark -r " + capture + " -d udp.port==" + port + ",iax2 -V 2>&1");
    EXPECT_EQ(details.find("Malformed"), std::string::npos);
    EXPECT_EQ(details.find("[Expert Info (Error"), std::string::npos);
    EXPECT_NE(details.find("Apparent Address"), std::string::npos);
    EXPECT_NE(details.find("Port: " + std::to_string(phone.port())), std::string::npos);
}

}  // namespace
