#include <gtest/gtest.h>

#include "lab/applet/LabAppletRequests.h"
#include "lab/cti/LabCtiMessages.h"

namespace {

TEST(LabCtiMessages, HelloAnswersCarryEveryChildThePhoneReads) {
    EXPECT_EQ(labcti::getSwitch({"10.0.0.5", "4570", "CODEC_GSM", "secret"}),
              "<MSG_TYPE_GET_SWITCH><Switch>10.0.0.5</Switch><Port>4570</Port><Codec>CODEC_GSM</Codec>"
              "<IaxPassword>secret</IaxPassword></MSG_TYPE_GET_SWITCH>");
    EXPECT_EQ(labcti::groupSoftphone({"1", "0", "1", "1", "1", "9", "ClientA", "CampaignB"}),
              "<MSG_TYPE_GET_GRP_SOFTPHONE><ButtonDialState>1</ButtonDialState>"
              "<ButtonTransferState>0</ButtonTransferState><ButtonConfState>1</ButtonConfState>"
              "<ReadyAfterLogin>1</ReadyAfterLogin><AddPrefixToCall>1</AddPrefixToCall><CallPrefix>9</CallPrefix>"
              "<RecDefaultClient>ClientA</RecDefaultClient><RecDefaultCampaign>CampaignB</RecDefaultCampaign>"
              "</MSG_TYPE_GET_GRP_SOFTPHONE>");
    EXPECT_EQ(labcti::notReadyReasons({"Break", "Lunch", "Training"}),
              "<MSG_TYPE_GET_NOTREADYREASON><Reason>Break^Lunch^Training</Reason></MSG_TYPE_GET_NOTREADYREASON>");
    EXPECT_EQ(labcti::notReadyReasons({}), "<MSG_TYPE_GET_NOTREADYREASON><Reason></Reason></MSG_TYPE_GET_NOTREADYREASON>");
    EXPECT_EQ(labcti::recordServer({"127.0.0.1", "8766", "1"}),
              "<MSG_TYPE_GET_RECORD_SERVER><Host>127.0.0.1</Host><Port>8766</Port>"
              "<SSLConnection>1</SSLConnection></MSG_TYPE_GET_RECORD_SERVER>");
}

TEST(LabCtiMessages, LoginResponseCarriesTheSettingsOrTheRefusal) {
    EXPECT_EQ(labcti::loginSuccess({}),
              "<MSG_TYPE_LOGIN_RESPONSE><Response>success</Response>"
              "<AutoUpdate>0</AutoUpdate><UpdateUrl>127.0.0.1</UpdateUrl><UpdatePort>80</UpdatePort>"
              "<UpdatePath>/velmoraccs/orvane/</UpdatePath>"
              "<Recordings>1</Recordings><Mp3Encoding>0</Mp3Encoding><LocalRecording>0</LocalRecording>"
              "<MinRecordingTime>1</MinRecordingTime><MaxRecordingTime>300</MaxRecordingTime>"
              "<SSLConnection>0</SSLConnection><EncodingQuality>high</EncodingQuality>"
              "<ActionAfterTimeOut>READY</ActionAfterTimeOut><MaxWrapUp>10</MaxWrapUp><WrapUpTimeOut>1</WrapUpTimeOut>"
              "<GroupDBID>1</GroupDBID></MSG_TYPE_LOGIN_RESPONSE>");
    EXPECT_EQ(labcti::loginRefusal("failure", "Agent already logged in"),
              "<MSG_TYPE_LOGIN_RESPONSE><Response>failure</Response><Reason>Agent already logged in</Reason>"
              "</MSG_TYPE_LOGIN_RESPONSE>");
    EXPECT_EQ(labcti::loginRefusal("", ""), "<MSG_TYPE_LOGIN_RESPONSE></MSG_TYPE_LOGIN_RESPONSE>");
}

TEST(LabCtiMessages, AcknowledgementsAndDateTime) {
    EXPECT_EQ(labcti::agentNotReady("Lunch"), "<MSG_TYPE_AGENT_NOT_READY><Reason>Lunch</Reason></MSG_TYPE_AGENT_NOT_READY>");
    EXPECT_EQ(labcti::agentLogout(), "<MSG_TYPE_AGENT_LOGOUT></MSG_TYPE_AGENT_LOGOUT>");
    EXPECT_EQ(labcti::personalDial("9001"),
              "<MSG_TYPE_PERSONAL_DIAL><VelmoraTracknum>9001</VelmoraTracknum></MSG_TYPE_PERSONAL_DIAL>");
    const labcti::DateTime time{"2024", "03", "07", "09", "05", "02"};
    EXPECT_EQ(labcti::ctiDateTime(time),
              "<MSG_TYPE_CTI_DATETIME><Year>2024</Year><Month>03</Month><Day>07</Day><Hour>09</Hour><Min>05</Min>"
              "<Sec>02</Sec></MSG_TYPE_CTI_DATETIME>");
    EXPECT_EQ(time.dotted(), "2024.03.07.09.05.02");
    const auto now = labcti::DateTime::now();
    EXPECT_EQ(now.year.size(), 4u);
    EXPECT_EQ(now.dotted().size(), 19u);
}

TEST(LabCtiMessages, QueueDistributeCarriesOneExtraDataChildPerGroupOfAttachedData) {
    labcti::QueueDistribute call{"5001", "2024.03.07.09.05.02", "5551234", "http://crm/?id=1", std::nullopt,
                                 {{{"Name", "Ada", "crm", "STRINGDATA", "true"}, {"Site", "http://x", "ivr", "URL", ""}},
                                  {{"Vip", "yes", "crm", "", "false"}}}};
    EXPECT_EQ(labcti::queueDistribute(call),
              "<MSG_TYPE_QUEUE_DISTRIBUTE><TrackNumber>5001</TrackNumber>"
              "<CurrentDateTime>2024.03.07.09.05.02</CurrentDateTime><Ani>5551234</Ani><Url>http://crm/?id=1</Url>"
              "<EXTRADATA><ATTACHED_DATA><KEY>Name</KEY><VALUE>Ada</VALUE><AUTHOR>crm</AUTHOR><TYPE>STRINGDATA</TYPE>"
              "<READ_ONLY>true</READ_ONLY></ATTACHED_DATA><ATTACHED_DATA><KEY>Site</KEY><VALUE>http://x</VALUE>"
              "<AUTHOR>ivr</AUTHOR><TYPE>URL</TYPE></ATTACHED_DATA></EXTRADATA>"
              "<EXTRADATA><ATTACHED_DATA><KEY>Vip</KEY><VALUE>yes</VALUE><AUTHOR>crm</AUTHOR>"
              "<READ_ONLY>false</READ_ONLY></ATTACHED_DATA></EXTRADATA></MSG_TYPE_QUEUE_DISTRIBUTE>");
    call.extraData.clear();
    call.consultCall = "true";
    EXPECT_EQ(labcti::queueDistribute(call),
              "<MSG_TYPE_QUEUE_DISTRIBUTE><TrackNumber>5001</TrackNumber>"
              "<CurrentDateTime>2024.03.07.09.05.02</CurrentDateTime><Ani>5551234</Ani><Url>http://crm/?id=1</Url>"
              "<ConsultCall>true</ConsultCall></MSG_TYPE_QUEUE_DISTRIBUTE>");
    EXPECT_EQ(labcti::allAttachedData("5001", {{{"K", "V", "A", "", ""}}}),
              "<MSG_TYPE_GET_ALL_ATTACHED_DATA><TrackNumber>5001</TrackNumber><EXTRADATA><ATTACHED_DATA><KEY>K</KEY>"
              "<VALUE>V</VALUE><AUTHOR>A</AUTHOR></ATTACHED_DATA></EXTRADATA></MSG_TYPE_GET_ALL_ATTACHED_DATA>");
}

TEST(LabCtiMessages, CallControlMessages) {
    EXPECT_EQ(labcti::terminateCall("5001"), "<MSG_TYPE_TERMINATE_CALL><TrackNumber>5001</TrackNumber></MSG_TYPE_TERMINATE_CALL>");
    EXPECT_EQ(labcti::dialPreview({"http://crm/p", "5550000", "77", "Leads", "Spring", "Ada", "5550000", "6001"}),
              "<MSG_TYPE_DIAL_PREVIEW><Url>http://crm/p</Url><NumberToDial>5550000</NumberToDial><RecordId>77</RecordId>"
              "<TableName>Leads</TableName><CampaignName>Spring</CampaignName><callIdName>Ada</callIdName>"
              "<callIdNum>5550000</callIdNum><VelmoraTracknum>6001</VelmoraTracknum></MSG_TYPE_DIAL_PREVIEW>");
    EXPECT_EQ(labcti::holdAgent("Supervisor hold"), "<MSG_TYPE_HOLD_AGENT><Message>Supervisor hold</Message></MSG_TYPE_HOLD_AGENT>");
    EXPECT_EQ(labcti::velmoraTracknum("5002", "1"),
              "<MSG_TYPE_GET_VELMORA_TRACKNUM><Tracknum>5002</Tracknum><Channel>1</Channel></MSG_TYPE_GET_VELMORA_TRACKNUM>");
    EXPECT_EQ(labcti::consultCallAnswer("failure", "Busy"),
              "<MSG_TYPE_CONSULT_CALL_REQUEST><REASON>Busy</REASON><RESPONSE>failure</RESPONSE></MSG_TYPE_CONSULT_CALL_REQUEST>");
}

TEST(LabCtiMessages, ServerNoticesAndSettingsUpdates) {
    EXPECT_EQ(labcti::messageCenterInfo({"Queue is long", "#00FF7f", "2", "STAT"}),
              "<MSG_TYPE_SET_MSG_CENTER_INFO><Message>Queue is long</Message><Color>#00FF7f</Color><Mode>2</Mode>"
              "<Type>STAT</Type></MSG_TYPE_SET_MSG_CENTER_INFO>");
    EXPECT_EQ(labcti::logoutAgent("Bye", "SUPERVISOR"),
              "<MSG_TYPE_LOGOUT_AGENT><Message>Bye</Message><Reason>SUPERVISOR</Reason></MSG_TYPE_LOGOUT_AGENT>");
    EXPECT_EQ(labcti::submitNotify({"1001", "ClientA", "CampaignB", "submit_sent", "SOLD"}),
              "<MSG_TYPE_SUBMIT_NOTIFY><AGENT_ID>1001</AGENT_ID><CLIENT_NAME>ClientA</CLIENT_NAME>"
              "<CAMPAIGN_NAME>CampaignB</CAMPAIGN_NAME><SUBMIT_STATUS>submit_sent</SUBMIT_STATUS>"
              "<SELL_RESULT>SOLD</SELL_RESULT></MSG_TYPE_SUBMIT_NOTIFY>");
    EXPECT_EQ(labcti::autoUpdate({"1", "updates.lab", "8080", "/orvane/"}),
              "<MSG_TYPE_GET_ORVANE_AUTO_UPDATE><AutoUpdate>1</AutoUpdate><UpdateUrl>updates.lab</UpdateUrl>"
              "<UpdatePort>8080</UpdatePort><UpdatePath>/orvane/</UpdatePath></MSG_TYPE_GET_ORVANE_AUTO_UPDATE>");
    EXPECT_EQ(labcti::updateRecording({"0", "1", "1", "5", "60", "1", "low"}, {"LOGGED_OUT", "30", "2"}),
              "<MSG_ORVANE_UPDATE_RECORDING><Recordings>0</Recordings><Mp3Encoding>1</Mp3Encoding>"
              "<LocalRecording>1</LocalRecording><MinRecordingTime>5</MinRecordingTime>"
              "<MaxRecordingTime>60</MaxRecordingTime><SSLConnection>1</SSLConnection>"
              "<EncodingQuality>low</EncodingQuality><ActionAfterTimeOut>LOGGED_OUT</ActionAfterTimeOut>"
              "<MaxWrapUp>30</MaxWrapUp><WrapUpTimeOut>2</WrapUpTimeOut></MSG_ORVANE_UPDATE_RECORDING>");
}

TEST(LabAppletRequests, GreetingHeartbeatAndEveryRequestType) {
    EXPECT_EQ(labapplet::greeting(), "0,orvaneApplet");
    EXPECT_EQ(labapplet::heartbeat(), "58");
    EXPECT_EQ(labapplet::forceReady(), "<RM_MSG_TYPE_FORCE_READY></RM_MSG_TYPE_FORCE_READY>");
    EXPECT_EQ(labapplet::unconditionalReady(), "<RM_MSG_TYPE_UNCONDITIONNAL_READY></RM_MSG_TYPE_UNCONDITIONNAL_READY>");
    EXPECT_EQ(labapplet::titleChange("ClientA-CampaignB-OK.submit:sent"),
              "<RM_MSG_TYPE_TITLE_CHANGE><Title>ClientA-CampaignB-OK.submit:sent</Title></RM_MSG_TYPE_TITLE_CHANGE>");
    EXPECT_EQ(labapplet::connected(), "<RM_MSG_TYPE_CONNECTED></RM_MSG_TYPE_CONNECTED>");
    EXPECT_EQ(labapplet::forceHangup(), "<RM_MSG_TYPE_FORCE_HANGUP></RM_MSG_TYPE_FORCE_HANGUP>");
}

TEST(LabAppletRequests, DialWritesNumberAndTheTrackNumberChildrenAsked) {
    EXPECT_EQ(labapplet::dial("5551234"), "<RM_MSG_TYPE_DIAL><Number>5551234</Number></RM_MSG_TYPE_DIAL>");
    EXPECT_EQ(labapplet::dial("5551234", "77"),
              "<RM_MSG_TYPE_DIAL><Number>5551234</Number><Tracknumber>77</Tracknumber><TrackNumber>77</TrackNumber>"
              "</RM_MSG_TYPE_DIAL>");
    EXPECT_EQ(labapplet::dial({"", std::nullopt, "78"}),
              "<RM_MSG_TYPE_DIAL><Number></Number><TrackNumber>78</TrackNumber></RM_MSG_TYPE_DIAL>");
}

}  // namespace
