// The raw-socket SCPI transport against a scripted loopback server: what a
// query gets back for each way the far end behaves, on POSIX sockets and on
// Winsock alike; and what an lxi:// address says where liblxi is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>

#include "instrument/Instrument.h"
#include "lang/Loadlanguage.h"
#include "core/support/ScriptedServer.h"

using namespace varnel;
using varnel::testing::ScriptedServer;
using std::chrono::milliseconds;

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

struct SocketCase {
    const char* name;
    ScriptedServer::Answer answer;
    const char* reply;         // what the server sends for each line
    milliseconds timeout;
    bool opens;                // the connection is made
    bool answered;             // the query returns a reply
    const char* expected;      // the reply, or a piece of the error text (lower case)
};

// A refused connection takes Windows up to a second of SYN retries, so its
// row allows more than that; none of the rows waits for its time-out unless
// the time-out is what it tests.
const SocketCase kSocketCases[] = {
    {"NormalQuery", ScriptedServer::Answer::Reply, "+3.71E+01\r\n", milliseconds(2000), true, true, "+3.71E+01"},
    {"ReplyInTwoPieces", ScriptedServer::Answer::ReplyInPieces, "-12.5\n", milliseconds(2000), true, true, "-12.5"},
    {"SilentPeerTimesOut", ScriptedServer::Answer::Silent, "", milliseconds(200), true, false,
     "no reply from the instrument within 200 ms to \"meas:pow?\""},
    {"PeerClosesTheConnection", ScriptedServer::Answer::Close, "", milliseconds(2000), true, false,
     "the instrument closed the connection"},
    {"ConnectionRefused", ScriptedServer::Answer::Refuse, "", milliseconds(5000), false, false, "refused"},
};

class SocketInstrumentTable : public ::testing::TestWithParam<SocketCase> {};

TEST_P(SocketInstrumentTable, QueryGetsWhatTheFarEndDoes) {
    const SocketCase& c = GetParam();
    ScriptedServer server(c.answer, c.reply);
    ASSERT_TRUE(server.ready());
    Result<std::unique_ptr<Instrument>> link = OpenInstrument(server.url(), c.timeout);
    ASSERT_EQ(link.ok(), c.opens) << (link.ok() ? std::string("opened") : link.error().text());
    if (!c.opens) {
        EXPECT_EQ(link.error().code(), ErrorCode::Instrument);
        const std::string text = link.error().text();
        EXPECT_NE(Lower(text).find(c.expected), std::string::npos) << text;
        EXPECT_NE(text.find(server.url()), std::string::npos) << "names the address: " << text;
        EXPECT_NE(text.find("cannot connect to the instrument"), std::string::npos) << text;
        return;
    }
    EXPECT_EQ(link.value()->describe(), server.url());
    Result<std::string> reply = link.value()->query("MEAS:POW?");
    if (c.answered) {
        ASSERT_TRUE(reply.ok()) << reply.error().text();
        EXPECT_EQ(reply.value(), c.expected);
        // One line per command, the line end added by the transport.
        EXPECT_EQ(server.lines(), std::vector<std::string>{"MEAS:POW?"});
    } else {
        ASSERT_FALSE(reply.ok()) << reply.value();
        EXPECT_EQ(reply.error().code(), ErrorCode::Instrument);
        const std::string text = reply.error().text();
        EXPECT_NE(Lower(text).find(c.expected), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(FarEnds, SocketInstrumentTable, ::testing::ValuesIn(kSocketCases),
                         [](const ::testing::TestParamInfo<SocketCase>& info) { return std::string(info.param.name); });

// A second query on the same connection is answered again: the transport
// keeps no state from the first beyond the connection.
TEST(SocketInstrument, AnswersEveryQueryOnOneConnection) {
    ScriptedServer server(ScriptedServer::Answer::Reply, "1\n");
    ASSERT_TRUE(server.ready());
    Result<std::unique_ptr<Instrument>> link = OpenInstrument(server.url(), milliseconds(2000));
    ASSERT_TRUE(link.ok()) << link.error().text();
    for (const char* query : {"*OPC?", "*IDN?", "SYST:ERR?"}) {
        Result<std::string> reply = link.value()->query(query);
        ASSERT_TRUE(reply.ok()) << query << ": " << reply.error().text();
        EXPECT_EQ(reply.value(), "1") << query;
    }
    EXPECT_EQ(server.lines(), (std::vector<std::string>{"*OPC?", "*IDN?", "SYST:ERR?"}));
}

// Without liblxi (always on Windows) a VXI-11 address is refused with a
// message that says why and which address works instead, in the interface
// language; liblxi's raw mode goes over the built-in socket transport.
TEST(LxiAddress, WithoutLiblxiVxi11IsRefusedWithAReason) {
    if (LxiAvailable()) {
        // With liblxi the address goes to it: VXI-11 on this computer, where
        // no instrument serves, fails as an instrument that cannot be
        // reached, not as a missing library.
        Result<std::unique_ptr<Instrument>> r = OpenInstrument("lxi://127.0.0.1", milliseconds(2000));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code(), ErrorCode::Instrument);
        EXPECT_EQ(r.error().text().find("liblxi"), std::string::npos) << r.error().text();
        return;
    }
    Result<std::unique_ptr<Instrument>> vxi = OpenInstrument("lxi://192.0.2.7", milliseconds(200));
    ASSERT_FALSE(vxi.ok());
    EXPECT_EQ(vxi.error().code(), ErrorCode::Instrument);
    const Error& e = vxi.error();
    ASSERT_EQ(e.links().size(), 1u);
#ifdef _WIN32
    EXPECT_EQ(e.links()[0].key, "Align:A0040");
    EXPECT_NE(e.text().find("not available on Windows"), std::string::npos) << e.text();
#else
    EXPECT_EQ(e.links()[0].key, "Align:A0041");
#endif
    EXPECT_NE(e.text().find("lxi://192.0.2.7"), std::string::npos) << e.text();
    EXPECT_NE(e.text().find("tcp://HOST:5025"), std::string::npos) << e.text();
    // The language files carry the message: the English one word for word,
    // the Chinese one with the addresses kept.
    SetProgramDirectory(VARNEL_LANG_DIR);
    OpenLanguage(kLanguageEnglish);
    EXPECT_EQ(ErrorText(e), e.text());
    OpenLanguage(kLanguageChinese);
    const std::string chinese = ErrorText(e);
    EXPECT_NE(chinese, e.text());
    EXPECT_NE(chinese.find("lxi://192.0.2.7"), std::string::npos) << chinese;
    EXPECT_NE(chinese.find("liblxi"), std::string::npos) << chinese;
    EXPECT_NE(chinese.find("tcp://"), std::string::npos) << chinese;
    ResetLanguageState();

    ScriptedServer server(ScriptedServer::Answer::Reply, "RAW\n");
    ASSERT_TRUE(server.ready());
    Result<std::unique_ptr<Instrument>> raw =
        OpenInstrument("lxi://127.0.0.1:" + std::to_string(server.port()), milliseconds(2000));
    ASSERT_TRUE(raw.ok()) << raw.error().text();
    Result<std::string> reply = raw.value()->query("*IDN?");
    ASSERT_TRUE(reply.ok()) << reply.error().text();
    EXPECT_EQ(reply.value(), "RAW");
}

}  // namespace
