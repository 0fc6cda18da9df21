// The IP socket on real loopback sockets: endpoint texts, readiness, send, receive, errors, start-up.
#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net_test_support.h"
#include "platform/sockets.h"
#include "tests/net/error_of.h"

using namespace nettest;

namespace {

// A socket held the way the program holds it: through a counted interface reference.
struct HeldSocket {
    TVqIpSocket* socket = new TVqIpSocket(nullptr);
    TVqInterfaceRef<IVqSocketInterface> ref{socket};
};

// Attaches a new loopback connection to the server's port to the socket.
void ConnectTo(TVqIpSocket& socket, const std::string& port) {
    socket.SetAddress("127.0.0.1");
    socket.SetPort(port);
    socket.AttachHandle(plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp));
    ASSERT_EQ(socket.Connect(), 0);
}

}  // namespace

// Catches addresses kept with their blanks, bare numbers taken as addresses, and host lookups that
// hang or give something other than the first address in dotted form.
TEST(SocketAddress, TextsAreTrimmedResolvedOrRefused) {
    HeldSocket held;
    TVqIpSocket& s = *held.socket;
    EXPECT_EQ(s.GetAddress(), "<unknown>");
    s.SetAddress("");
    s.SetAddress(" \t\r\n ");
    EXPECT_EQ(s.GetAddress(), "<unknown>") << "a blank text changes nothing";

    s.SetAddress("  \t10.0.0.5 \n");
    EXPECT_EQ(s.GetAddress(), "10.0.0.5");
    EXPECT_EQ(s.RemoteAddress().address, ParseInetAddress("10.0.0.5"));
    EXPECT_EQ(s.RemoteAddress().family, plat::kAddressFamilyInet);
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(&s.RemoteAddress().address);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[3], 5);

    EXPECT_EQ(ErrorOf([&] { s.SetAddress(" 1234 "); }), "Invalid address: 1234");
    EXPECT_EQ(s.GetAddress(), "10.0.0.5") << "a refused text leaves the address as it was";

    s.SetAddress("localhost");
    EXPECT_EQ(s.GetAddress().rfind("127.", 0), 0u) << s.GetAddress();
    EXPECT_EQ(FormatInetAddress(s.RemoteAddress().address), s.GetAddress());

    const std::int64_t start = NowMs();
    EXPECT_EQ(ErrorOf([&] { s.SetAddress(" kovex-no-such-host.invalid "); }),
              "Invalid address: kovex-no-such-host.invalid");
    EXPECT_LT(NowMs() - start, 1000) << "a name that cannot exist is refused without the network";
    EXPECT_EQ(plat::LastSocketError(), 11001);

    // Other spellings that inet_addr takes are kept as written, and the address is what they mean.
    s.SetAddress("0x7f.1");
    EXPECT_EQ(s.GetAddress(), "0x7f.1");
    EXPECT_EQ(FormatInetAddress(s.RemoteAddress().address), "127.0.0.1");
    s.SetAddress("   ");
    EXPECT_EQ(s.GetAddress(), "0x7f.1");
}

// Catches an inet_addr that takes trailing junk, out-of-range parts or wrong bases.
TEST(SocketAddress, InetAddrForms) {
    EXPECT_EQ(FormatInetAddress(ParseInetAddress("127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(FormatInetAddress(ParseInetAddress("10.5")), "10.0.0.5");
    EXPECT_EQ(FormatInetAddress(ParseInetAddress("192.168.257")), "192.168.1.1");
    EXPECT_EQ(FormatInetAddress(ParseInetAddress("1234")), "0.0.4.210");
    EXPECT_EQ(FormatInetAddress(ParseInetAddress("010.0x10.0.1")), "8.16.0.1");
    for (const char* bad : {"", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 junk", "1..2", "1.2.3.", "08.1.1.1", "0x", "a.b.c.d",
                            "1.2.3.-4", "99999999999", "1.16777216"})
        EXPECT_EQ(ParseInetAddress(bad), kInetAddressNone) << bad;
    EXPECT_EQ(ParseInetAddress("255.255.255.255"), kInetAddressNone);  // inet_addr's own ambiguity

    EXPECT_TRUE(IsDigitsOnly("0080"));
    EXPECT_FALSE(IsDigitsOnly(""));
    EXPECT_FALSE(IsDigitsOnly("-1"));
    EXPECT_FALSE(IsDigitsOnly("80 "));
    EXPECT_FALSE(IsDigitsOnly("8a"));
}

// Catches leading zeros lost, ports beyond 16 bits wrapping round, and service names not looked up.
TEST(SocketPort, DigitsServicesAndRefusals) {
    HeldSocket held;
    TVqIpSocket& s = *held.socket;
    EXPECT_EQ(s.GetPort(), "<unset>");
    s.SetPort(" ");
    EXPECT_EQ(s.GetPort(), "<unset>");

    s.SetPort(" 0080 ");
    EXPECT_EQ(s.GetPort(), "0080");
    EXPECT_EQ(NetworkToHost16(s.RemoteAddress().port), 80);

    EXPECT_EQ(ErrorOf([&] { s.SetPort("70000"); }), "Invalid port: 70000");
    EXPECT_EQ(ErrorOf([&] { s.SetPort("65536"); }), "Invalid port: 65536");
    EXPECT_EQ(ErrorOf([&] { s.SetPort("2147483648"); }), "'2147483648' is not a valid integer value");
    EXPECT_EQ(ErrorOf([&] { s.SetPort("99999999999999999999999"); }),
              "'99999999999999999999999' is not a valid integer value");
    EXPECT_EQ(ErrorOf([&] { s.SetPort(" -1 "); }), "Invalid port: -1");
    EXPECT_EQ(ErrorOf([&] { s.SetPort("kovex-no-such-service"); }), "Invalid port: kovex-no-such-service");
    EXPECT_EQ(s.GetPort(), "0080") << "refused texts leave the port as it was";
    EXPECT_EQ(NetworkToHost16(s.RemoteAddress().port), 80);

    s.SetPort("65535");
    EXPECT_EQ(NetworkToHost16(s.RemoteAddress().port), 65535);

    std::uint16_t httpPort = 0;
    if (!plat::ServicePort("http", httpPort)) GTEST_SKIP() << "no service database entry for http";
    s.SetPort("http");
    EXPECT_EQ(s.GetPort(), std::to_string(NetworkToHost16(httpPort)));
    EXPECT_EQ(s.RemoteAddress().port, httpPort);
}

// Catches a peer query that answers from the stored texts, or raises with more than the error text.
TEST(SocketPeer, QueriesTheConnectedPeer) {
    LoopbackServer server([](int& fd) { PeerClosed(fd); });
    HeldSocket held;
    TVqIpSocket& s = *held.socket;
    ConnectTo(s, server.Port());
    EXPECT_EQ(s.GetAddress(), "127.0.0.1");
    EXPECT_EQ(s.GetPort(), server.Port());
    s.Close();
    EXPECT_EQ(s.GetAddress(), "127.0.0.1") << "the peer query leaves its answer in the remote address";

    HeldSocket lone;
    lone.socket->AttachHandle(plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp));
    EXPECT_EQ(ErrorOf([&] { lone.socket->GetAddress(); }), "Socket is not connected");
    EXPECT_EQ(ErrorOf([&] { lone.socket->GetPort(); }), "Socket is not connected");
}

// Catches a state machine that loses the handle, closes twice or calls the handler when it should not.
TEST(SocketState, CloseDisconnectAttachAndSetters) {
    HeldSocket held;
    TVqIpSocket& s = *held.socket;
    std::vector<TVqIpSocket*> disconnects;
    s.OnDisconnect = [&](TVqIpSocket* sender) { disconnects.push_back(sender); };

    EXPECT_EQ(s.Close(), -1);
    s.Disconnect();
    EXPECT_TRUE(disconnects.empty()) << "a closed socket calls no handler";
    s.AttachHandle(plat::kNoSocket);
    EXPECT_EQ(s.GetHandle(), plat::kNoSocket);

    auto open = [] { return plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp); };
    const plat::SocketHandle first = open();
    s.AttachHandle(first);
    EXPECT_EQ(s.GetHandle(), first);
    EXPECT_EQ(s.Close(), 0);
    EXPECT_EQ(s.GetHandle(), plat::kNoSocket);
    EXPECT_TRUE(disconnects.empty()) << "Close calls no handler";
    EXPECT_FALSE(HandleIsOpen(first)) << "the handle is closed";

    s.AttachHandle(open());
    s.AttachHandle(open());
    EXPECT_EQ(disconnects.size(), 1u) << "adopting a handle disconnects the held one";
    s.SetAddress("127.0.0.1");
    EXPECT_EQ(disconnects.size(), 2u);
    EXPECT_EQ(s.GetHandle(), plat::kNoSocket);
    s.AttachHandle(open());
    s.SetPort("   ");
    EXPECT_EQ(disconnects.size(), 3u) << "a setter disconnects before it looks at the text";
    s.AttachHandle(open());
    s.Disconnect();
    ASSERT_EQ(disconnects.size(), 4u);
    for (TVqIpSocket* sender : disconnects) EXPECT_EQ(sender, &s);
}

// Catches receives that hang, lose bytes or report a closed peer as data.
TEST(SocketReceive, QueuedBytesThenClosedPeer) {
    LoopbackServer server([](int& fd) {
        WriteAll(fd, std::string("abc\0def", 7));
        SleepMs(50);
    });
    HeldSocket held;
    TVqIpSocket& s = *held.socket;
    ConnectTo(s, server.Port());
    ASSERT_TRUE(s.WaitReadable(-1)) << "a negative time-out waits until readable";
    SleepMs(20);
    std::int32_t count = -7;
    bool received = false;
    const std::uint8_t* data = s.Receive(count, received);
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(received);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)),
              std::string("abc\0def", 7));

    server.Join();  // the server has closed
    count = -7;
    data = s.Receive(count, received);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(received);
    EXPECT_NE(s.GetHandle(), plat::kNoSocket) << "the socket itself leaves closing to its user";

    HeldSocket closed;
    EXPECT_FALSE(closed.socket->WaitReadable(-1)) << "no handle: false at once";
    EXPECT_FALSE(closed.socket->WaitReadableMs(-1));
}

// Catches a select failure passed over in silence instead of raised with its code and text.
TEST(SocketErrors, FailingWaitsRaiseTheFormattedError) {
    HeldSocket held;
    TVqIpSocket& s = *held.socket;
    s.AttachHandle(1000000);  // far above any descriptor this process has open
    const std::string expected = "Socket error: 10038, as text: Socket operation on non-socket";
    EXPECT_EQ(ErrorOf([&] { s.WaitReadable(0); }), expected);
    EXPECT_EQ(ErrorOf([&] { s.WaitWritable(); }), expected);
    EXPECT_EQ(ErrorOf([&] { s.Send("x", 1); }), expected);
    s.Close();
    EXPECT_EQ(ErrorOf([&] { s.Send("x", 1); }), "No connection established");

    HeldSocket refused;
    refused.socket->SetAddress("127.0.0.1");
    refused.socket->SetPort(ClosedPort());
    refused.socket->AttachHandle(plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp));
    EXPECT_EQ(refused.socket->Connect(), -1);
    EXPECT_EQ(plat::LastSocketError(), 10061);
    EXPECT_EQ(refused.socket->LastErrorText(), "Connection refused");
}

// Catches a table row with a wrong text or code, and unknown codes that are not told apart.
TEST(SocketErrors, EveryTableRow) {
    const std::pair<std::int32_t, const char*> rows[] = {
        {0, "No Error"}, {10004, "Interrupted system call"}, {10009, "Bad file number"},
        {10013, "Permission denied"}, {10014, "Bad address"}, {10022, "Invalid argument"},
        {10024, "Too many open files"}, {10035, "Operation would block"}, {10036, "Operation now in progress"},
        {10037, "Operation already in progress"}, {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"}, {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"}, {10042, "Protocol not available"},
        {10043, "Protocol not supported"}, {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"}, {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"}, {10048, "Address already in use"},
        {10049, "Address not available"}, {10050, "Network is down"}, {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"}, {10053, "Connection aborted"},
        {10054, "Connection reset by peer"}, {10055, "No buffer space available"},
        {10056, "Socket is already connected"}, {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"}, {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"}, {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"}, {10063, "File name too long"}, {10064, "Host is down"},
        {10065, "No route to host"}, {10066, "Directory not empty"}, {10067, "Too many processes"},
        {10068, "Too many users"}, {10069, "Disc quota exceeded"}, {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"}, {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"}, {10093, "WinSock not initialized"},
        {11001, "Host not found"}, {11002, "Non-authoritative host not found"}, {11003, "Non-recoverable error"},
        {11004, ""}};
    HeldSocket held;
    for (const auto& [code, text] : rows) {
        plat::SetLastSocketError(code);
        EXPECT_EQ(held.ref->LastErrorText(), text) << code;
    }
    for (std::int32_t code : {-1, 1, 4, 10000, 10001, 10072, 10090, 10094, 11000, 11005, 0x7FFFFFFF}) {
        plat::SetLastSocketError(code);
        EXPECT_EQ(held.socket->LastErrorText(), "Not a WinSock error") << code;
    }
    // A thread that has had no socket failure has no error pending.
    std::string fresh;
    std::thread([&] { fresh = held.socket->LastErrorText(); }).join();
    EXPECT_EQ(fresh, "No Error");
}

// Catches a socket library that the module does not start, or a refused start-up not raised.
TEST(SocketStartUp, StartedOnceBeforeTheProgramAndRefusalsRaise) {
    EXPECT_TRUE(WinSockStarted());
    EXPECT_GE(plat::SocketStartupCount(), 1);
    const std::int32_t before = plat::SocketStartupCount();
    EXPECT_EQ(ErrorOf([] { StartWinSock(0x0001); }), "WSAStartup error #10092");
    EXPECT_EQ(plat::SocketStartupCount(), before);
    StartWinSock();
    EXPECT_EQ(plat::SocketStartupCount(), before + 1);
}
