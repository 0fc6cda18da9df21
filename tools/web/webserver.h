// The browser view of the panel: its page, its pictures as PNG and a WebSocket of live values, served on
// a thread of its own so that browsers never delay the panels' TCP requests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct WebFile;

// Listens on address:port (0: a free port) and starts the web thread. Gives the page's address, or
// false with the reason in error.
bool StartWebServer(const std::string& address, std::uint16_t port, std::string& pageAddress, std::string& error);
// Hands the newest message to every connected browser; a browser still busy with an older one skips
// to this one when it is ready. Safe to call from any thread.
void PublishWebMessage(std::string message);
// Milliseconds on the clock the messages' times are taken from, the same for every process here.
double WebClockMs();
void StopWebServer();
// Answers a GET of path (exactly, or with a query) with what make gives, called on the web thread for
// each request; register before StartWebServer.
void ServeWebPage(const std::string& path, const char* contentType, std::function<std::string()> make);
// A file packed in at build time by its name, for a page served only on some servers; null if none.
const WebFile* PackedWebFile(const char* path);
