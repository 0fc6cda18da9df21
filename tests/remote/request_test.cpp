// Remote variable requests against loopback servers of the test's own, and the reply's number form.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net/remotevariables.h"
#include "platform/locale.h"
#include "tests/net/error_of.h"
#include "tests/net/net_test_support.h"

namespace {

// How long a test server waits for the client's next step. Only a failing run waits it out, and
// under Wine on a busy machine a step can take seconds, so it is generous.
constexpr int kPatienceMs = 60000;

// The test's own client; requests go through whichever this holds.
std::unique_ptr<TVqTcpBlockClient> client;

void ConnectTo(const std::string& port) {
    client = std::make_unique<TVqTcpBlockClient>();
    client->SetServerPort(port);
    client->SetServerAddress("127.0.0.1");
    ASSERT_TRUE(client->Connect());
}

}  // namespace

// Catches numbers the panel would misread, a full stop refused in a comma region, and garbage taken
// for a number.
TEST(ReplyNumber, AcceptsAFullStopOrTheRegionalSeparatorAndRejectsTheRest) {
    EXPECT_EQ(TextToFloat("12", '.'), 12.0);
    EXPECT_EQ(TextToFloat("  -12.5  ", '.'), -12.5);
    EXPECT_EQ(TextToFloat("+7", '.'), 7.0);
    EXPECT_EQ(TextToFloat(".5", '.'), 0.5);
    EXPECT_EQ(TextToFloat("5.", '.'), 5.0);
    EXPECT_EQ(TextToFloat("4.5E-2", '.'), 0.045);
    EXPECT_EQ(TextToFloat("1e3", '.'), 1000.0);
    EXPECT_EQ(TextToFloat("12,5", ','), 12.5);
    EXPECT_EQ(TextToFloat(" -12.5e1 ", ','), -125.0) << "a full stop reads in a comma region too";
    EXPECT_EQ(nettest::ErrorOf([] { TextToFloat("12,5", '.'); }), "'12,5' is not a valid floating point value");
    EXPECT_EQ(TextToFloat("0.1", '.'), 0.1) << "the shortest text of a double reads back exact";
    EXPECT_EQ(TextToFloat("1e999", '.'), 0.0) << "no usable value beyond a double's range";
    for (const char* bad : {"", "   ", "12abc", "1,2.5", "1.2,5", "--1", "e5", "1e", "1e+", "1.2.3", "0x10", "nan", "inf"}) {
        EXPECT_EQ(nettest::ErrorOf([&] { TextToFloat(bad, ','); }),
                  std::string("'") + bad + "' is not a valid floating point value")
            << "accepted: " << bad;
    }
}

// Catches requests sent while not connected or with the wrong bytes, and replies misread.
TEST(RemoteRequest, NotConnectedYieldsZeroWithoutTraffic) {
    client.reset();
    EXPECT_EQ(RequestRemoteVariable(client.get(), 0x3365, "1", "3"), 0.0);
    client = std::make_unique<TVqTcpBlockClient>();
    EXPECT_EQ(RequestRemoteVariable(client.get(), 0x3365, "1", "3"), 0.0);
    client.reset();
}

TEST(RemoteRequest, SendsOffsetSizeKindAndReadsTheReply) {
    std::string first, second;
    nettest::LoopbackServer server([&](int& fd) {
        if (!nettest::ReadRequest(fd, first, kPatienceMs)) return;
        nettest::WriteAll(fd, "12");  // no zero byte: the quiet time ends the reply
        if (!nettest::ReadRequest(fd, second, kPatienceMs)) return;
        nettest::WriteAll(fd, std::string(" 2944.25 \0", 10));
        nettest::PeerClosed(fd, kPatienceMs);
    });
    ConnectTo(server.Port());
    EXPECT_EQ(RequestRemoteVariable(client.get(), 0x3365, "1", "3"), 12.0);
    EXPECT_EQ(RequestRemoteVariable(client.get(), 0x0B80, "4", "1"), 2944.25);
    client.reset();
    server.Join();
    EXPECT_EQ(first, "13157,1,3");
    EXPECT_EQ(second, "2944,4,1");
}

TEST(RemoteRequest, LettersAfterTheNumberNameTheWholeReply) {
    nettest::LoopbackServer server([](int& fd) {
        std::string request;
        if (nettest::ReadRequest(fd, request, kPatienceMs)) nettest::WriteAll(fd, std::string("42 knots\0", 9));
    });
    ConnectTo(server.Port());
    EXPECT_EQ(nettest::ErrorOf([] { RequestRemoteVariable(client.get(), 0x0918, "8", "2"); }), "'42 knots' is not a valid floating point value");
    client.reset();
}

// Catches a lost server read as zero needles instead of ending with its message.
TEST(RemoteRequest, ServerClosingWhileWaitingIsALostConnection) {
    nettest::LoopbackServer server([](int& fd) {
        std::string request;
        nettest::ReadRequest(fd, request, kPatienceMs);
    });
    ConnectTo(server.Port());
    EXPECT_EQ(nettest::ErrorOf([] { RequestRemoteVariable(client.get(), 0x0918, "8", "2"); }), "No connection established");
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(RequestRemoteVariable(client.get(), 0x0918, "8", "2"), 0.0) << "after the loss a request sends nothing";
    client.reset();
}

// Catches a separator taken from anywhere but the user's LC_NUMERIC.
TEST(DecimalSeparator, FollowsTheEnvironmentsNumericLocale) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows takes the separator from the user's regional settings, which a test cannot set";
#else
    const auto dir = std::filesystem::temp_directory_path() / "kovex-locale-test";
    std::filesystem::create_directories(dir);
    const std::string command = "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef or the de_DE source is not available";
    setenv("LOCPATH", dir.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(plat::DecimalSeparator(), ',');
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(plat::DecimalSeparator(), '.');
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
    std::filesystem::remove_all(dir);
#endif
}
