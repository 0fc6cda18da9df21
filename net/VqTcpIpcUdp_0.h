// The socket library: an IPv4 stream socket behind a counted interface, and the blocking TCP client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/VqInterfaced.h"
#include "platform/sockets.h"

class TVqIpSocket;

// Handlers bound to their objects (a lambda capturing the object, or std::bind).
using TVqMessageEvent = std::function<void(const std::string& text)>;
using TVqNotifyEvent = std::function<void(TVqIpSocket* sender)>;

// A socket's optional owner: it takes the socket's report texts and holds the name the socket shows.
class TVqSocketOwner {
public:
    virtual ~TVqSocketOwner() = default;
    virtual void SocketMessage(const std::string& text) = 0;
    std::string Name;
};

// The socket as its users hold it. The slots forward to TVqIpSocket's operations of the same
// names; an override in a class derived from TVqIpSocket is reached through here.
class IVqSocketInterface : public virtual IVqUnknown {
public:
    virtual void Disconnect() = 0;                                                 // 1
    virtual std::int32_t Connect() = 0;                                            // 2
    virtual bool Send(const void* data, std::int32_t count) = 0;                   // 3
    virtual const std::uint8_t* Receive(std::int32_t& count, bool& received) = 0;  // 4
    virtual bool WaitReadable(std::int32_t timeoutSeconds) = 0;                    // 5
    virtual std::string GetPort() = 0;                                             // 6
    virtual void SetAddress(const std::string& address) = 0;                       // 7
    virtual std::string GetAddress() = 0;                                          // 8
    virtual std::string LastErrorText() = 0;                                       // 9
    virtual plat::SocketHandle GetHandle() = 0;                                    // 10
    virtual void AttachHandle(plat::SocketHandle handle) = 0;                      // 11
    virtual void SetPort(const std::string& port) = 0;                             // 12
    virtual std::int32_t Close() = 0;                                              // 13
    virtual void SetName(const std::string& name) = 0;                             // 14
    virtual std::string GetName() = 0;                                             // 15
    // As WaitReadable with a time-out in milliseconds, for waits shorter than a second.
    virtual bool WaitReadableMs(std::int32_t timeoutMs) = 0;                       // 16

protected:
    ~IVqSocketInterface() = default;
};

// One IPv4 stream socket. Created with new and then held through IVqSocketInterface references;
// it deletes itself when the last one is released, closing its handle without calling OnDisconnect.
class TVqIpSocket : public TVqInterfacedObject, public IVqSocketInterface {
public:
    explicit TVqIpSocket(TVqSocketOwner* owner = nullptr);
    ~TVqIpSocket() override;

    // Virtual operations in slot order (the constructor stands in for the virtual Create).
    // True when a send would not block now (a 10-microsecond probe). Raises "Socket error: ...".
    virtual bool WaitWritable();
    // Open: Close, then OnDisconnect with this socket. Closed: nothing.
    void Disconnect() override;
    // One blocking connect to the remote address: 0, or -1 on failure; nothing reported.
    std::int32_t Connect() override;
    // Sends all count bytes, waiting for writability with back-off before each piece. False when not
    // writable after the probes (connection kept) or when the send fails (reported, disconnected).
    // Raises "No connection established" when closed, "Socket error: ..." when the wait fails.
    bool Send(const void* data, std::int32_t count) override;
    // Everything queued, read with one receive into the socket's own block (valid until the next
    // Receive). None when not readable within 1 s (count untouched), when nothing is queued, or when
    // the queue cannot be read. received is true when bytes came; a failed receive gives the
    // zero-filled block and a negative count.
    const std::uint8_t* Receive(std::int32_t& count, bool& received) override;
    // Readable within timeoutSeconds (negative: no limit)? False at once without a handle.
    bool WaitReadable(std::int32_t timeoutSeconds) override;
    // Without a handle the texts as last set ("<unset>", "<unknown>" before); with one, the peer's.
    // Raise the error text alone when the peer cannot be queried.
    std::string GetPort() override;
    // Digits (at most 65535; leading zeros kept in the text) or a service name. Blank: no change.
    // Raises "Invalid port: <text>", or "'<text>' is not a valid integer value" beyond 32 bits.
    void SetPort(const std::string& port) override;
    std::string GetAddress() override;
    // A dotted address (kept as written) or a host name (kept as its first address). Blank: no
    // change. Raises "Invalid address: <text>". An open socket is disconnected first in both setters.
    void SetAddress(const std::string& address) override;
    // -1 without a handle; else shuts down and closes it and gives closesocket's result. No handler.
    std::int32_t Close() override;
    bool WaitReadableMs(std::int32_t timeoutMs) override;

    // Not overridable.
    std::string LastErrorText() final;
    plat::SocketHandle GetHandle() final;
    // Adopts a handle (-1: none), disconnecting a held one first.
    void AttachHandle(plat::SocketHandle handle) final;
    std::string GetName() final;
    void SetName(const std::string& name) final;

    // To the owner when there is one, else to OnMessage when set, else dropped. Never raises.
    void ReportMessage(const std::string& text);
    static std::string ResolveAddress(const std::string& address);

    // Send's wait for writability: probes with sleeps of firstDelayMs, doubling (1 ms and 10 probes
    // by default, about one second in all).
    void SetSendBackOff(std::uint32_t firstDelayMs, std::int32_t probes);
    // The socket address that Connect uses, or the peer's after GetAddress / GetPort with a handle.
    const plat::SocketAddressV4& RemoteAddress() const { return remoteAddress; }

    TVqMessageEvent OnMessage;
    TVqNotifyEvent OnDisconnect;

private:
    bool WaitReady(bool forReading, std::int32_t seconds, std::int32_t microseconds);

    std::string name = "<_blocking_client>";
    plat::SocketHandle socketHandle = plat::kNoSocket;
    bool connectedFlag = false;
    plat::SocketAddressV4 remoteAddress{};
    std::string portText = "<unset>";
    std::string addressText = "<unknown>";
    std::unique_ptr<std::uint8_t[]> receiveBuffer;
    TVqSocketOwner* owner = nullptr;
    std::uint32_t sendFirstDelayMs = 1;
    std::int32_t sendProbes = 10;
};

// The reply assembly of TVqTcpBlockClient, apart from the socket so that it can be checked on any
// bytes. It holds the bytes of the reply under way and what the connection's server has shown about
// itself; one reader serves one connection.
class TVqReplyReader {
public:
    enum class State {
        Whole,      // reply := the bytes before the reply's zero byte
        Partial,    // no zero byte yet: wait for more, or for the quiet time (reply untouched)
        TooLong,    // more than maxBytes without a zero byte: the server will not end this reply
        Candidate,  // a reply is held that is this one unless more comes within the quiet time
    };

    explicit TVqReplyReader(std::size_t maxBytes) : maxBytes(maxBytes) {}

    // A block received while a reply is awaited. The reply ends at the block's first zero byte and
    // the rest of the block is ignored. After a reply the quiet time took, the first zero byte to
    // come is that reply's late end: a zero byte first is only that; digits before it that end the
    // block are a Candidate, which more bytes within the quiet time show to be that reply's late
    // rest (they are then dropped) and silence shows to be this reply.
    State TakeBlock(const char* data, std::size_t count, std::string& reply);
    // The quiet time has passed: the bytes held are the reply of a server that omits the zero byte.
    std::string TakeByQuiet();
    // The quiet time has passed after a Candidate: it is the reply.
    std::string TakeCandidate();
    // Bytes that were waiting before a request, all dropped. True when they held more than the late
    // end of the reply the quiet time took and padding zero bytes: a reply nobody asked for.
    bool DropStale(const char* data, std::size_t count);
    // True until the server has sent a zero byte: only then may a quiet time end a reply.
    bool QuietEnds() const { return !endsReplies; }
    bool HasPending() const { return !pending.empty(); }
    bool HasCandidate() const { return hasCandidate; }
    // True while the late end of a reply that the quiet time took may still come.
    bool AwaitsLateEnd() const { return awaitsLateEnd; }
    // A new connection: nothing held, nothing known about its server.
    void Reset();

private:
    std::string pending;
    std::string candidate;
    std::size_t maxBytes;
    bool endsReplies = false;    // a zero byte has come on this connection
    bool awaitsLateEnd = false;  // the last reply was ended by the quiet time and no zero byte has come since
    bool hasCandidate = false;
};

// The program's blocking TCP client: one socket, set-endpoint, connect, send text, receive.
class TVqTcpBlockClient {
public:
    TVqTcpBlockClient();
    TVqTcpBlockClient(const TVqTcpBlockClient&) = delete;
    TVqTcpBlockClient& operator=(const TVqTcpBlockClient&) = delete;
    // Releases the socket, which closes the connection without calling OnDisconnect.
    virtual ~TVqTcpBlockClient();

    // The socket's OnMessage handler, written and read directly.
    virtual void SetOnMessage(TVqMessageEvent handler);
    virtual TVqMessageEvent GetOnMessage();

    void SetServerAddress(const std::string& address);
    std::string GetServerAddress();
    void SetServerPort(const std::string& port);
    std::string GetServerPort();
    // True at once when connected. Raises "Server-address not set.", "Server-port not set" or
    // "Invalid socket returned, message: <error text>"; false (no handle left) when connect fails.
    bool Connect();
    bool Connected();
    // The connection's socket handle, kNoSocket when there is none (for waits beside the client).
    plat::SocketHandle Handle();
    bool SendBlock(const void* data, std::int32_t count);
    // The text's bytes and one zero byte.
    bool SendText(const std::string& text);
    // Waits up to timeoutSeconds for data and hands out the socket's block as it came. False with
    // data none when nothing came (connection kept) or the peer has gone (disconnected: the next
    // call raises "No connection established").
    bool ReceiveBlock(const std::uint8_t*& data, std::int32_t& count, std::int32_t timeoutSeconds);
    // The socket's disconnect handler: passes the sender on to OnDisconnect when set.
    void SocketDisconnected(TVqIpSocket* sender);

    // One request of the request/reply exchange. Bytes already waiting answer no request sent from
    // now on: they are dropped first (a reply nobody asked for is named once per connection on
    // standard error). Then SendText; when it does not go out whole, when the peer has gone, or when
    // more than kMaxReplyBytes were waiting, the connection is closed and "No connection
    // established" raised.
    void SendRequest(const std::string& text);
    // The reply to the request just sent (TVqReplyReader): the bytes up to a zero byte, or, from a
    // connection that has never sent a zero byte, what came before a quiet time with no further
    // byte. When no reply has come within the overall limit, when the peer goes, or when more than
    // kMaxReplyBytes come without an end, the connection is closed and "No connection established"
    // raised.
    std::string ReceiveReply();
    // The reply waits: waits of waitMs each (the overall limit is waits x waitMs) and the quiet time.
    // 5000 ms, 3 and 100 ms by default.
    void SetReplyTiming(std::int32_t waitMs, std::int32_t waits, std::int32_t quietMs);
    // The socket's back-off for sends (TVqIpSocket::SetSendBackOff).
    void SetSendBackOff(std::uint32_t firstDelayMs, std::int32_t probes);

    static constexpr std::size_t kMaxReplyBytes = 65536;

    TVqNotifyEvent OnDisconnect;

private:
    [[noreturn]] void DropConnection();
    void DropStaleBytes();

    TVqInterfaceRef<IVqSocketInterface> SocketInterface;
    TVqIpSocket* Socket = nullptr;
    TVqReplyReader reader{kMaxReplyBytes};
    bool staleNamed = false;  // this connection's replies nobody asked for have been named
    std::int32_t replyWaitMs = 5000;
    std::int32_t replyWaits = 3;
    std::int32_t replyQuietMs = 100;
};

// Trims the text (codes 0 to 32 at both ends) and gives it back when it is a dotted IPv4 address,
// or the first address of the host it names in dotted form; empty for a blank text.
// Raises "Invalid address: <trimmed text>" for a number without "." and for an unknown host.
std::string ResolveAddress(const std::string& address);

// True for a non-empty text of the characters 0 to 9 only.
bool IsDigitsOnly(const std::string& text);

// Starts the platform socket library (version 1.1 unless told). Raises "WSAStartup error #<code>".
// The module runs it once when the program starts, before the program entry.
void StartWinSock(std::uint16_t version = 0x0101);
// True once the module's start-up has started the socket library.
bool WinSockStarted();

// The fixed English text of a WinSock error code; "Not a WinSock error" for unknown codes.
std::string WinSockErrorText(std::int32_t code);

// inet_addr: a dotted address of one to four parts (decimal, octal with a leading 0, or hex with
// 0x) in network byte order, or 0xFFFFFFFF (INADDR_NONE) when the whole text is not one.
std::uint32_t ParseInetAddress(const std::string& text);
// inet_ntoa: the four bytes of an address in network byte order as a.b.c.d.
std::string FormatInetAddress(std::uint32_t address);
constexpr std::uint32_t kInetAddressNone = 0xFFFFFFFFu;

// htons / ntohs, independent of the machine's byte order.
std::uint16_t HostToNetwork16(std::uint16_t value);
std::uint16_t NetworkToHost16(std::uint16_t value);
