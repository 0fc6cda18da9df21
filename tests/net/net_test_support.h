// Loopback servers for the socket tests: one connection each, run on a thread, every wait bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// The raw socket calls live in net_test_support.cpp, so the tests see no OS header (the desktop's would
// rename names the tests use and clash with the window seam's message constants).
namespace nettest {

constexpr int kBoundMs = 5000;  // a server step's default wait; some sessions end by waiting it out
// The waits only a failing run sits out (accepting, holding a connection until told to stop): long
// enough for a loaded machine or Wine to be slow at any step.
constexpr int kPatientMs = 60000;

inline std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// True when fd has data, a closed peer or an error to read within timeoutMs.
bool WaitReadable(int fd, int timeoutMs);

// One receive of up to size bytes (left queued with peek): the count, 0 when the peer closed, -1 on failure.
long ReceiveSome(int fd, void* buffer, std::size_t size, bool peek = false);
// Waits up to timeoutMs for room and sends what fits without blocking: bytes sent, 0 when none
// fitted, -1 when the peer has gone. Never raises SIGPIPE.
long SendSome(int fd, const void* data, std::size_t size, int timeoutMs);

// Sets the socket's send buffer size; 0 on success.
int SetSendBuffer(int fd, int bytes);

// True while fd names an open socket.
bool HandleIsOpen(int fd);

void CloseFd(int fd);

// Reads until the peer closes or timeoutMs pass; everything read.
std::string ReadUntilClosed(int fd, int timeoutMs = kBoundMs);

// Reads up to and including a zero byte; false when none came within timeoutMs or the peer closed.
bool ReadRequest(int fd, std::string& request, int timeoutMs = kBoundMs);

void WriteAll(int fd, const std::string& bytes);

// True when the peer has closed (or reset) the connection within timeoutMs; data before that is dropped.
bool PeerClosed(int fd, int timeoutMs = kBoundMs);

// Closes with a reset instead of an orderly close.
void ResetAndClose(int fd);

// Listens on 127.0.0.1 at a free port; accepts one connection (or `connections`, one after the
// other) and runs the session on each in a thread. The connection is closed after the session unless
// the session closed it itself and set its fd to -1. The destructor waits for the session.
class LoopbackServer {
public:
    using Session = std::function<void(int& fd)>;

    explicit LoopbackServer(Session session, int receiveBufferBytes = 0, int connections = 1);
    ~LoopbackServer();

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Port() const { return std::to_string(port); }
    bool Accepted() const { return accepted; }
    void Join() {
        if (worker.joinable()) worker.join();
    }

private:
    int listenFd = -1;
    std::uint16_t port = 0;
    std::thread worker;
    std::atomic<bool> accepted{false};
};

// A port on loopback where nothing listens: bound, then closed again.
std::string ClosedPort();

}  // namespace nettest
