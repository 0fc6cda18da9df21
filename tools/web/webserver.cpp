// HTTP and WebSocket with Boost.Beast on one asio thread. Limits: connections, request header size,
// incoming WebSocket message size, time to send a request, time a push may stay unsent.
#include "tools/web/webserver.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>
#include <thread>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "platform/eventloop.h"
#include "tools/web/qrcode.h"
#include "tools/web/webfiles.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Message = std::shared_ptr<const std::string>;

constexpr int kMaxConnections = 128;  // a browser may hold a few while it loads the pictures
constexpr std::uint32_t kHeaderLimit = 8192;
constexpr std::size_t kIncomingMessageLimit = 1024;  // browsers send nothing; more than this closes
constexpr auto kRequestTime = std::chrono::seconds(10);
constexpr auto kStalledPush = std::chrono::seconds(3);  // a browser that stops reading is dropped
constexpr int kSendBuffer = 32768;  // what the system may hold for a browser that reads slowly
constexpr const char* kLivePath = "/live";
constexpr const char* kQrPath = "/qr";

class Live;

struct Route {
    std::string path;
    const char* contentType;
    std::function<std::string()> make;
};

// Everything the web thread shares; connections and the registry outlive the io_context's handlers.
struct Web {
    std::atomic<int> connections{0};
    std::set<Live*> live;  // web thread only
    std::mutex mutex;
    std::string newest;                // guarded by mutex
    std::atomic<bool> pushPosted{false};
    std::string qrPng;  // the page address's code, made once at start; empty without QR codes
    WebFile qrFile{kQrPath, "image/png", nullptr, 0};
    std::vector<Route> routes;  // set before the thread starts, then only read
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    std::thread thread;
};

Web& web() {
    static Web instance;
    return instance;
}

// Counts a connection for its whole life, over HTTP and then as a WebSocket.
struct Place {
    Place() { web().connections.fetch_add(1); }
    ~Place() { web().connections.fetch_sub(1); }
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
};

class Live : public std::enable_shared_from_this<Live> {
public:
    explicit Live(beast::tcp_stream&& stream, std::unique_ptr<Place> place)
        : ws_(std::move(stream)), place_(std::move(place)) {}
    ~Live() { web().live.erase(this); }

    void Accept(http::request<http::empty_body> request) {
        beast::get_lowest_layer(ws_).expires_never();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().set_option(asio::socket_base::send_buffer_size(kSendBuffer), ignored);
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = std::chrono::seconds(10);
        timeout.idle_timeout = std::chrono::seconds(10);  // pings find a browser that went away
        timeout.keep_alive_pings = true;
        ws_.set_option(timeout);
        ws_.read_message_max(kIncomingMessageLimit);
        ws_.text(true);
        ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) {
            if (error) return;
            web().live.insert(self.get());
            self->Read();
            self->Push(nullptr);
        });
    }

    // Sends the newest message, or remembers to once the one on its way has gone.
    void Push(Message message) {
        if (!message) {
            std::lock_guard<std::mutex> lock(web().mutex);
            if (web().newest.empty()) return;
            message = std::make_shared<const std::string>(web().newest);
        }
        if (writing_) {
            waiting_ = std::move(message);
            if (std::chrono::steady_clock::now() - writeStarted_ > kStalledPush) Drop();
            return;
        }
        writing_ = true;
        writeStarted_ = std::chrono::steady_clock::now();
        ws_.async_write(asio::buffer(*message), [self = shared_from_this(), message](beast::error_code error,
                                                                                     std::size_t) {
            self->writing_ = false;
            if (error) return self->Drop();
            if (self->waiting_) self->Push(std::exchange(self->waiting_, nullptr));
        });
    }

private:
    // Nothing is expected from the browser: a message is refused, too large a one is closed by Beast.
    void Read() {
        ws_.async_read(in_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) return self->Drop();
            self->in_.clear();
            self->ws_.async_close(websocket::close_code::policy_error, [self](beast::error_code) {});
        });
    }

    void Drop() {
        web().live.erase(this);
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

    websocket::stream<beast::tcp_stream> ws_;
    std::unique_ptr<Place> place_;
    beast::flat_buffer in_;
    Message waiting_;
    bool writing_ = false;
    std::chrono::steady_clock::time_point writeStarted_;
};

// The file a request names exactly, a packed one or the page address's code; only the page takes a
// query (its layout for a fixed screen).
const WebFile* FileFor(const std::string& target) {
    const std::string path = target.rfind("/?", 0) == 0 ? "/" : target;
    if (path == kQrPath) return web().qrFile.size ? &web().qrFile : nullptr;
    for (std::size_t i = 0; i < kWebFileCount; ++i) {
        if (path == kWebFiles[i].path) return &kWebFiles[i];
    }
    return nullptr;
}

class Visit : public std::enable_shared_from_this<Visit> {
public:
    Visit(tcp::socket&& socket, std::unique_ptr<Place> place) : stream_(std::move(socket)), place_(std::move(place)) {}

    void Read() {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        parser_->body_limit(0);
        stream_.expires_after(kRequestTime);
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            self->Handle(error);
        });
    }

private:
    void Handle(beast::error_code error) {
        if (error == http::error::end_of_stream || error == beast::error::timeout ||
            error == asio::error::operation_aborted || error == asio::error::connection_reset || error == asio::error::eof)
            return Close();
        if (error) return Answer(http::status::bad_request, "bad request\n", "text/plain", false);
        http::request<http::empty_body> request = parser_->release();
        const std::string target(request.target());
        if (websocket::is_upgrade(request)) {
            if (target != kLivePath) return Answer(http::status::not_found, "not found\n", "text/plain", false);
            std::make_shared<Live>(std::move(stream_), std::move(place_))->Accept(std::move(request));
            return;
        }
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            return Answer(http::status::method_not_allowed, "method not allowed\n", "text/plain", false);
        }
        const std::string path = target.substr(0, target.find('?'));
        for (const Route& route : web().routes) {
            if (path != route.path) continue;
            std::string body = route.make();
            const std::size_t size = body.size();
            if (request.method() == http::verb::head) body.clear();
            return Answer(http::status::ok, std::move(body), route.contentType, request.keep_alive(), size);
        }
        if (const WebFile* file = FileFor(target)) {
            const std::string body = request.method() == http::verb::head
                                         ? std::string()
                                         : std::string(reinterpret_cast<const char*>(file->data), file->size);
            return Answer(http::status::ok, body, file->contentType, request.keep_alive(), file->size);
        }
        Answer(http::status::not_found, "not found\n", "text/plain", false);
    }

    void Answer(http::status status, std::string body, const char* type, bool keepAlive, std::size_t length = 0) {
        auto response = std::make_shared<http::response<http::string_body>>(status, 11);
        response->set(http::field::server, "kovex-server");
        response->set(http::field::content_type, type);
        response->set(http::field::cache_control, "no-cache");
        response->set("X-Content-Type-Options", "nosniff");
        if (status == http::status::method_not_allowed) response->set(http::field::allow, "GET, HEAD");
        response->keep_alive(keepAlive);
        const std::size_t size = body.empty() ? length : body.size();
        response->body() = std::move(body);
        response->content_length(size);
        stream_.expires_after(kRequestTime);
        http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code error,
                                                                                    std::size_t) {
            if (error || !response->keep_alive()) return self->Close();
            self->Read();
        });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    std::unique_ptr<Place> place_;
    beast::flat_buffer buffer_{kHeaderLimit};
    std::optional<http::request_parser<http::empty_body>> parser_;
};

void AcceptNext() {
    web().acceptor.async_accept([](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error) {
            if (web().connections.load() >= kMaxConnections) {
                beast::error_code ignored;
                socket.close(ignored);  // full: the newcomer is turned away rather than queued behind browsers
            } else {
                plat::NetKeepAlive(static_cast<plat::NetSocket>(socket.native_handle()));
                std::make_shared<Visit>(std::move(socket), std::make_unique<Place>())->Read();
            }
        }
        AcceptNext();
    });
}

void PushToAll() {
    web().pushPosted.store(false);
    Message message;
    {
        std::lock_guard<std::mutex> lock(web().mutex);
        message = std::make_shared<const std::string>(web().newest);
    }
    for (Live* live : std::set<Live*>(web().live)) live->Push(message);
}

// The address a browser elsewhere would use: for a listener on every address, the one this machine
// reaches the network by (a datagram socket's connect sends nothing).
std::string ShownHost(const asio::ip::address& bound) {
    if (!bound.is_unspecified()) return bound.to_string();
    beast::error_code error;
    asio::ip::udp::socket probe(web().io);
    probe.open(asio::ip::udp::v4(), error);
    if (!error) probe.connect(asio::ip::udp::endpoint(asio::ip::make_address_v4("192.0.2.1"), 9), error);
    if (!error) {
        const asio::ip::address local = probe.local_endpoint(error).address();
        if (!error && !local.is_unspecified()) return local.to_string();
    }
    return "127.0.0.1";
}

void SetPageCode(const std::string& pageAddress) {
    web().qrPng = QrPng(pageAddress);
    web().qrFile.data = reinterpret_cast<const unsigned char*>(web().qrPng.data());
    web().qrFile.size = web().qrPng.size();
}

}  // namespace

bool StartWebServer(const std::string& address, std::uint16_t port, std::string& pageAddress, std::string& error) {
    Web& w = web();
    beast::error_code code;
    const asio::ip::address bound = asio::ip::make_address(address, code);
    if (code) {
        error = "web: not a numeric address: " + address;
        return false;
    }
    const tcp::endpoint endpoint(bound, port);
    w.acceptor.open(endpoint.protocol(), code);
    // The same address rules as the panels' listener: never a port shared with another server.
    if (!code) plat::NetPrepareListener(static_cast<plat::NetSocket>(w.acceptor.native_handle()));
    if (!code) w.acceptor.bind(endpoint, code);
    if (!code) w.acceptor.listen(asio::socket_base::max_listen_connections, code);
    if (code) {
        error = "web: cannot listen on " + address + ":" + std::to_string(port) + ": " + code.message();
        beast::error_code ignored;
        w.acceptor.close(ignored);
        return false;
    }
    pageAddress = "http://" + ShownHost(bound) + ":" + std::to_string(w.acceptor.local_endpoint().port()) + "/";
    SetPageCode(pageAddress);
    AcceptNext();
    w.thread = std::thread([&w] { w.io.run(); });
    return true;
}

void PublishWebMessage(std::string message) {
    Web& w = web();
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.newest = std::move(message);
    }
    if (!w.pushPosted.exchange(true)) asio::post(w.io, PushToAll);
}

double WebClockMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void StopWebServer() {
    Web& w = web();
    if (!w.thread.joinable()) return;
    w.io.stop();
    w.thread.join();
    beast::error_code ignored;
    w.acceptor.close(ignored);
}

void ServeWebPage(const std::string& path, const char* contentType, std::function<std::string()> make) {
    web().routes.push_back(Route{path, contentType, std::move(make)});
}

const WebFile* PackedWebFile(const char* path) {
    for (std::size_t i = 0; i < kWebFileCount; ++i)
        if (std::strcmp(kWebFiles[i].path, path) == 0) return &kWebFiles[i];
    return nullptr;
}
