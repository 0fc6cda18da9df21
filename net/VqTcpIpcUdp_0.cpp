// The IP socket and the module's routines: address and port texts, readiness waits, send and receive.
#include "net/VqTcpIpcUdp_0.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/textconversions.h"
#include "platform/clock.h"
#include "platform/msgbox.h"

namespace {

bool winSockStarted = false;

[[noreturn]] void RaiseSocketError(const std::string& errorText, std::int32_t code) {
    throw KovexError(FormatText("Socket error: %d, as text: %s", code, errorText.c_str()));
}

// The module's start-up: the socket library is started once, before the program entry, whichever
// road the settings choose. Its shut-down does nothing; the library is never cleaned up.
struct ModuleStartUp {
    ModuleStartUp() {
        try {
            StartWinSock();
            winSockStarted = true;
        } catch (const std::exception& error) {
            // The program entry must not run without sockets; end as an error at the top would.
            plat::MessageBox(error.what(), "KOVEXFuel", plat::MessageIcon::Error);
            std::exit(1);
        }
    }
};
const ModuleStartUp moduleStartUp;

}  // namespace

// ---- Module routines ----

std::uint16_t HostToNetwork16(std::uint16_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
    std::uint16_t result = 0;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

std::uint16_t NetworkToHost16(std::uint16_t value) {
    std::uint8_t bytes[2];
    std::memcpy(bytes, &value, sizeof bytes);
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::uint32_t ParseInetAddress(const std::string& text) {
    std::uint64_t parts[4] = {0, 0, 0, 0};
    int count = 0;
    std::size_t pos = 0;
    for (;;) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return kInetAddressNone;
        std::uint64_t value = 0;
        int base = 10;
        if (text[pos] == '0') {
            base = 8;
            ++pos;
            if (pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
                base = 16;
                ++pos;
                if (pos >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[pos]))) return kInetAddressNone;
            }
        }
        for (; pos < text.size(); ++pos) {
            const char c = text[pos];
            int digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else break;
            if (digit >= base) return kInetAddressNone;
            value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
            if (value > 0xFFFFFFFFu) return kInetAddressNone;
        }
        parts[count++] = value;
        if (pos == text.size()) break;
        if (text[pos] != '.' || count == 4) return kInetAddressNone;
        ++pos;
    }
    // The last part fills the bytes that the earlier parts leave: a, a.b (8.24), a.b.c (8.8.16), a.b.c.d.
    std::uint64_t host = 0;
    const std::uint64_t lastLimit[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFF) return kInetAddressNone;
        host |= parts[i] << (24 - 8 * i);
    }
    if (parts[count - 1] > lastLimit[count - 1]) return kInetAddressNone;
    host |= parts[count - 1];
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
                                   static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
    std::uint32_t result = 0;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

std::string FormatInetAddress(std::uint32_t address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return FormatText("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

std::string ResolveAddress(const std::string& address) {
    const std::string trimmed = TrimBlanks(address);
    if (trimmed.empty()) return std::string();
    if (ParseInetAddress(trimmed) != kInetAddressNone) {
        // A bare number parses as an address too, but as a setting it is a mistake, not an address.
        if (trimmed.find('.') == std::string::npos) throw KovexError("Invalid address: " + trimmed);
        return trimmed;
    }
    std::uint32_t found = 0;
    if (!plat::ResolveHostName(trimmed, found)) throw KovexError("Invalid address: " + trimmed);
    return FormatInetAddress(found);
}

bool IsDigitsOnly(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

void StartWinSock(std::uint16_t version) {
    const std::int32_t result = plat::SocketStartup(version);
    if (result != 0) throw KovexError(FormatText("WSAStartup error #%d", result));
}

bool WinSockStarted() { return winSockStarted; }

// ---- TVqIpSocket ----

TVqIpSocket::TVqIpSocket(TVqSocketOwner* owner) : owner(owner) {
    remoteAddress.family = plat::kAddressFamilyInet;
}

TVqIpSocket::~TVqIpSocket() {
    // Destruction closes without telling anyone: the holder is going away on purpose.
    TVqIpSocket::Close();
}

bool TVqIpSocket::WaitReady(bool forReading, std::int32_t seconds, std::int32_t microseconds) {
    const std::int32_t result = forReading ? plat::WaitSocketReadable(socketHandle, seconds, microseconds)
                                           : plat::WaitSocketWritable(socketHandle, seconds, microseconds);
    if (result == -1) {
        const std::int32_t code = plat::LastSocketError();
        RaiseSocketError(LastErrorText(), code);
    }
    return result > 0;
}

bool TVqIpSocket::WaitWritable() { return WaitReady(false, 0, 10); }

void TVqIpSocket::Disconnect() {
    if (!connectedFlag) return;
    Close();
    if (OnDisconnect) OnDisconnect(this);
}

std::int32_t TVqIpSocket::Connect() { return plat::ConnectSocket(socketHandle, remoteAddress); }

bool TVqIpSocket::Send(const void* data, std::int32_t count) {
    if (!connectedFlag) throw KovexError("No connection established");
    if (count == 0) return true;
    if (count < 0 || data == nullptr) return false;
    const std::uint8_t* next = static_cast<const std::uint8_t*>(data);
    std::int32_t left = count;
    std::uint32_t delay = sendFirstDelayMs;
    std::int32_t tries = 0;
    while (left > 0) {
        bool writable = WaitWritable();
        std::int32_t sent = 0;
        if (writable) {
            sent = plat::SendBytes(socketHandle, next, left);
            // Space went again before the send: as good as not writable.
            if (sent < 0 && plat::LastSocketError() == plat::kErrorWouldBlock) writable = false;
        }
        if (!writable) {
            ++tries;
            plat::SleepMs(delay);
            if (delay < 0x80000000u) delay *= 2;
            if (tries >= sendProbes) return false;
            continue;
        }
        if (sent <= 0) {
            ReportMessage(FormatText("TcpSend went wrong, Message: %s", LastErrorText().c_str()));
            Disconnect();
            return false;
        }
        // A part went out: the rest follows, with a fresh back-off of its own.
        next += sent;
        left -= sent;
        delay = sendFirstDelayMs;
        tries = 0;
    }
    return true;
}

const std::uint8_t* TVqIpSocket::Receive(std::int32_t& count, bool& received) {
    received = false;
    if (!WaitReadable(1)) return nullptr;
    count = 0;
    if (plat::BytesAvailable(socketHandle, count) != 0) {
        ReportMessage("Ioctl went wrong, message: " + LastErrorText());
        return nullptr;
    }
    receiveBuffer.reset();
    if (count > 0) {
        receiveBuffer.reset(new std::uint8_t[static_cast<std::size_t>(count)]());
        const std::int32_t n = plat::ReceiveBytes(socketHandle, receiveBuffer.get(), count);
        if (n < 0) ReportMessage("TcpRcv went wrong, message: " + LastErrorText());
        count = n;
    }
    received = count > 0;
    return receiveBuffer.get();
}

bool TVqIpSocket::WaitReadable(std::int32_t timeoutSeconds) {
    if (socketHandle == plat::kNoSocket) return false;
    return WaitReady(true, timeoutSeconds, 0);
}

bool TVqIpSocket::WaitReadableMs(std::int32_t timeoutMs) {
    if (socketHandle == plat::kNoSocket) return false;
    if (timeoutMs < 0) return WaitReady(true, -1, 0);
    return WaitReady(true, timeoutMs / 1000, (timeoutMs % 1000) * 1000);
}

std::string TVqIpSocket::GetPort() {
    if (socketHandle == plat::kNoSocket) return portText;
    if (plat::PeerAddress(socketHandle, remoteAddress) == -1) throw KovexError(LastErrorText());
    return std::to_string(NetworkToHost16(remoteAddress.port));
}

void TVqIpSocket::SetPort(const std::string& port) {
    if (connectedFlag) Disconnect();
    const std::string trimmed = TrimBlanks(port);
    if (trimmed.empty()) return;
    if (IsDigitsOnly(trimmed)) {
        const std::int32_t value = TextToInt32(trimmed);
        // A port is 16 bits: a larger number would silently reach another port.
        if (value > 65535) throw KovexError("Invalid port: " + trimmed);
        remoteAddress.port = HostToNetwork16(static_cast<std::uint16_t>(value));
        portText = trimmed;
        return;
    }
    std::uint16_t servicePort = 0;
    if (!plat::ServicePort(trimmed, servicePort)) throw KovexError("Invalid port: " + trimmed);
    remoteAddress.port = servicePort;
    portText = std::to_string(NetworkToHost16(servicePort));
}

std::string TVqIpSocket::GetAddress() {
    if (socketHandle == plat::kNoSocket) return addressText;
    if (plat::PeerAddress(socketHandle, remoteAddress) == -1) throw KovexError(LastErrorText());
    return FormatInetAddress(remoteAddress.address);
}

void TVqIpSocket::SetAddress(const std::string& address) {
    if (connectedFlag) Disconnect();
    const std::string trimmed = TrimBlanks(address);
    if (trimmed.empty()) return;
    addressText = ResolveAddress(trimmed);
    remoteAddress.address = ParseInetAddress(addressText);
    remoteAddress.family = plat::kAddressFamilyInet;
}

std::int32_t TVqIpSocket::Close() {
    if (socketHandle == plat::kNoSocket) return -1;
    plat::ShutdownSocket(socketHandle, 2);
    const std::int32_t result = plat::CloseSocket(socketHandle);
    connectedFlag = false;
    socketHandle = plat::kNoSocket;
    return result;
}

std::string TVqIpSocket::LastErrorText() { return WinSockErrorText(plat::LastSocketError()); }

plat::SocketHandle TVqIpSocket::GetHandle() { return socketHandle; }

void TVqIpSocket::AttachHandle(plat::SocketHandle handle) {
    if (socketHandle != plat::kNoSocket) Disconnect();
    if (handle != plat::kNoSocket) {
        socketHandle = handle;
        connectedFlag = true;
    }
}

std::string TVqIpSocket::GetName() { return owner != nullptr ? owner->Name : name; }

void TVqIpSocket::SetName(const std::string& newName) {
    if (owner != nullptr) owner->Name = newName;
    else name = newName;
}

void TVqIpSocket::ReportMessage(const std::string& text) {
    // Reports travel on failure paths: a handler that throws must not turn them into a new failure.
    try {
        if (owner != nullptr) owner->SocketMessage(text);
        else if (OnMessage) OnMessage(text);
    } catch (...) {
    }
}

std::string TVqIpSocket::ResolveAddress(const std::string& address) { return ::ResolveAddress(address); }

void TVqIpSocket::SetSendBackOff(std::uint32_t firstDelayMs, std::int32_t probes) {
    sendFirstDelayMs = firstDelayMs;
    sendProbes = probes > 0 ? probes : 1;
}
