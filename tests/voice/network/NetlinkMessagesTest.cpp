#include <gtest/gtest.h>

#include "voice/network/NetlinkMessages.h"
#include "voice/network/NetlinkBytes.h"

using namespace netlink_bytes;
using netlink::parseNetlinkBatch;

TEST(NetlinkMessagesTest, AddressChangesAreNoticedAndRemovedAddressesNamed) {
    const auto batch = parseNetlinkBatch(join({addressMessage(RTM_NEWADDR, "10.0.0.3"),
                                               addressMessage(RTM_DELADDR, "10.0.0.2")}));
    EXPECT_TRUE(batch.problem.empty()) << batch.problem;
    EXPECT_EQ(batch.messages, 2);
    EXPECT_TRUE(batch.changed);
    EXPECT_EQ(batch.removedAddresses, std::vector<std::uint32_t>{ip("10.0.0.2")});
    EXPECT_FALSE(batch.route);
}

TEST(NetlinkMessagesTest, IPv6ChangesAndOtherMessagesAreNotChangesOfThePhonesNetwork) {
    const auto batch = parseNetlinkBatch(join({addressMessage(RTM_DELADDR, "10.0.0.2", AF_INET6),
                                               message(NLMSG_DONE, 0, {})}));
    EXPECT_TRUE(batch.problem.empty()) << batch.problem;
    EXPECT_EQ(batch.messages, 2);
    EXPECT_FALSE(batch.changed);
    EXPECT_TRUE(batch.removedAddresses.empty());
}

TEST(NetlinkMessagesTest, AGroupRouteMessageIsAChangeAndARequestsAnswerIsThePath) {
    const auto change = parseNetlinkBatch(routeMessage(RTM_DELROUTE, 0, nullptr, "10.0.0.1", 2));
    EXPECT_TRUE(change.changed);
    EXPECT_FALSE(change.route);

    const auto answer = parseNetlinkBatch(routeMessage(RTM_NEWROUTE, 1, "10.0.0.2", "10.0.0.1", 2));
    EXPECT_FALSE(answer.changed);
    ASSERT_TRUE(answer.route);
    EXPECT_TRUE(answer.route->reachable);
    EXPECT_EQ(answer.route->source, ip("10.0.0.2"));
    EXPECT_EQ(answer.route->gateway, ip("10.0.0.1"));
    EXPECT_EQ(answer.route->interfaceIndex, 2);
    EXPECT_EQ(answer.route->text(), "from 10.0.0.2 via 10.0.0.1 on interface 2");
    EXPECT_EQ(netlink::RoutePath{}.text(), "no route");
}

TEST(NetlinkMessagesTest, AnErrorAnswerCarriesItsErrno) {
    const auto batch = parseNetlinkBatch(errorMessage(ENETUNREACH, 1));
    EXPECT_EQ(batch.error, ENETUNREACH);
    EXPECT_FALSE(batch.route);
}

// Every way a message can lie about its size ends the reading there, keeping what came before.
TEST(NetlinkMessagesTest, BadAndCutMessagesStopTheReadingWithTheirProblem) {
    const Bytes good = addressMessage(RTM_DELADDR, "10.0.0.2");
    const Bytes route = routeMessage(RTM_NEWROUTE, 1, "10.0.0.2", nullptr, 2);

    Bytes cutHeader = join({good, Bytes(8, 0)});
    auto batch = parseNetlinkBatch(cutHeader);
    EXPECT_EQ(batch.messages, 1);
    EXPECT_EQ(batch.removedAddresses.size(), 1u);
    EXPECT_EQ(batch.problem, "message header cut short");

    Bytes tooLong = good;
    tooLong[0] = 0xFF;  // nlmsg_len past the end
    batch = parseNetlinkBatch(tooLong);
    EXPECT_EQ(batch.messages, 0);
    EXPECT_NE(batch.problem.find("does not fit"), std::string::npos) << batch.problem;

    Bytes tooShort = good;
    tooShort[0] = 4;  // shorter than its own header
    tooShort[1] = tooShort[2] = tooShort[3] = 0;
    EXPECT_FALSE(parseNetlinkBatch(tooShort).problem.empty());

    Bytes noBody = message(RTM_DELADDR, std::uint32_t{0}, {});
    EXPECT_EQ(parseNetlinkBatch(noBody).problem, "address message too short");

    Bytes badAttribute = route;
    badAttribute[sizeof(nlmsghdr) + sizeof(rtmsg)] = 200;  // the first attribute's length runs past the message
    batch = parseNetlinkBatch(badAttribute);
    EXPECT_EQ(batch.problem, "malformed route attribute");
    EXPECT_FALSE(batch.route);

    Bytes zeroAttribute = route;
    zeroAttribute[sizeof(nlmsghdr) + sizeof(rtmsg)] = 0;  // an attribute of length 0 would never end
    EXPECT_EQ(parseNetlinkBatch(zeroAttribute).problem, "malformed route attribute");

    EXPECT_EQ(parseNetlinkBatch(errorMessage(0, 1)).error, 0);
    Bytes cutError = message(NLMSG_ERROR, std::uint16_t{0}, {}, 1);
    cutError.resize(sizeof(nlmsghdr) + 2);
    const auto cutLength = static_cast<std::uint32_t>(cutError.size());
    std::memcpy(cutError.data(), &cutLength, sizeof cutLength);  // nlmsg_len comes first
    EXPECT_EQ(parseNetlinkBatch(cutError).problem, "error message too short");

    EXPECT_EQ(parseNetlinkBatch({}).messages, 0);
}

// An attribute whose value has the wrong size is not read as an address.
TEST(NetlinkMessagesTest, AnAddressOfTheWrongSizeIsNotTaken) {
    const std::uint16_t shortValue = 7;
    ifaddrmsg fixed{};
    fixed.ifa_family = AF_INET;
    const auto batch = parseNetlinkBatch(message(RTM_DELADDR, fixed, {attribute(IFA_LOCAL, &shortValue, sizeof shortValue)}));
    EXPECT_TRUE(batch.problem.empty()) << batch.problem;
    EXPECT_TRUE(batch.changed);
    EXPECT_TRUE(batch.removedAddresses.empty());
}
