// Remote variable requests against loopback servers of the test's own, and the reply's number form.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net/remotevariables.h"
#include "platform/locale.h"
#include "simlink/panelvariables.h"
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

// The servers below answer each request "offset,size,kind" with its offset, so that a value read
// for another variable shows.
std::string OffsetOf(const std::string& request) { return request.substr(0, request.find(',')); }

std::string Ended(const std::string& text) { return text + std::string(1, '\0'); }

// Answers every request until the client hangs up; fd is published for bytes the test sends unasked.
nettest::LoopbackServer::Session AnswerEach(std::atomic<int>& serverFd) {
    return [&serverFd](int& fd) {
        serverFd = fd;
        std::string request;
        while (nettest::ReadRequest(fd, request)) nettest::WriteAll(fd, Ended(OffsetOf(request)));
    };
}

// The value the test's client reads; an error fails the test and reads as -1.
double Read(std::uint32_t offset, const char* size, const char* kind) {
    try {
        return RequestRemoteVariable(client.get(), offset, size, kind);
    } catch (const KovexError& error) {
        ADD_FAILURE() << error.what();
        return -1.0;
    }
}

// The frame's ten variables, `frames` times over: each must read as its own offset.
void ExpectEachValueOnItsOwnVariable(int frames) {
    for (int frame = 0; frame < frames; ++frame)
        for (const PanelVariable& v : kFrameVariables)
            EXPECT_EQ(Read(v.offset, v.sizeText, v.kindText), v.offset) << "frame " << frame;
}

const char* const kStrayNote =
    "KOVEXFuel: the server sent a reply nobody asked for; it was dropped (later ones are dropped without a note)\n";

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

// Catches a reply nobody asked for answering the next request, and with it every later value read
// for the variable after its own; the drop is named once.
TEST(ReplyPairing, StrayRepliesBetweenFramesAreDroppedAndNamedOnce) {
    std::atomic<int> serverFd{-1};
    nettest::LoopbackServer server(AnswerEach(serverFd));
    ConnectTo(server.Port());
    testing::internal::CaptureStderr();
    for (int stray = 0; stray < 2; ++stray) {
        ExpectEachValueOnItsOwnVariable(1);
        nettest::WriteAll(serverFd, Ended("999"));
        EXPECT_TRUE(nettest::WaitReadable(client->Handle(), nettest::kBoundMs)) << "the stray reply never came";
    }
    ExpectEachValueOnItsOwnVariable(2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kStrayNote);
    EXPECT_TRUE(client->Connected());
    client.reset();
}

// Catches padding after a reply's zero byte read as the next reply, or ending the connection: two
// zero bytes after the number, and a fixed 32-byte zero-padded buffer. Padding is not named.
TEST(ReplyPairing, PaddedRepliesEndAtTheirFirstZeroByte) {
    for (const std::size_t length : {std::size_t(0), std::size_t(32)}) {
        nettest::LoopbackServer server([length](int& fd) {
            std::string request;
            while (nettest::ReadRequest(fd, request)) {
                std::string reply = Ended(Ended(OffsetOf(request)));
                if (reply.size() < length) reply.resize(length, '\0');
                nettest::WriteAll(fd, reply);
            }
        });
        ConnectTo(server.Port());
        testing::internal::CaptureStderr();
        ExpectEachValueOnItsOwnVariable(2);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "padded to " << length;
        EXPECT_TRUE(client->Connected());
        client.reset();
    }
}

// Catches the rest of a first reply that paused past the quiet time read as the next reply, whether
// that rest comes after the next request or is waiting before it: the quiet time takes the digits
// before the pause, and every later value is its own.
TEST(ReplyPairing, FirstReplyPausedPastTheQuietTime) {
    for (const bool restBeforeNextRequest : {false, true}) {
        std::atomic<int> serverFd{-1};
        nettest::LoopbackServer server([&](int& fd) {
            serverFd = fd;
            std::string request;
            if (!nettest::ReadRequest(fd, request)) return;
            nettest::WriteAll(fd, "29");
            if (!restBeforeNextRequest) {
                // The pause lasts until the quiet time has taken the digits and the next request is here.
                if (!nettest::ReadRequest(fd, request)) return;
                nettest::WriteAll(fd, Ended("44"));
                nettest::WriteAll(fd, Ended(OffsetOf(request)));
            }
            while (nettest::ReadRequest(fd, request)) nettest::WriteAll(fd, Ended(OffsetOf(request)));
        });
        ConnectTo(server.Port());
        // A quiet time long enough that the rest and the next reply, sent one after the other, come
        // within it on a busy machine.
        client->SetReplyTiming(5000, 3, 1000);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Read(0x0B80, "4", "1"), 29.0);
        if (restBeforeNextRequest) {
            nettest::WriteAll(serverFd, Ended("44"));
            EXPECT_TRUE(nettest::WaitReadable(client->Handle(), nettest::kBoundMs));
        }
        ExpectEachValueOnItsOwnVariable(2);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the late rest of a reply is no reply nobody asked for";
        EXPECT_TRUE(client->Connected());
        client.reset();
    }
}
