// The server's announcement on the local network, so panels and browsers find it without an address.
#pragma once

#include <memory>
#include <string>

#include "platform/announce.h"
#include "tools/server/options.h"

// Announces the server listening at listenName ("ADDRESS:PORT") and, when pageUrl is not empty, its
// web page, unless announcing is turned off or the server listens on loopback only (nothing there
// could reach it). Null when nothing is announced.
std::unique_ptr<plat::Announcer> StartAnnouncing(const ServerOptions& options, const std::string& listenName,
                                                 const std::string& pageUrl);

// The value the announcement's "source" record gives for a source: model, fsuipc, xplane, flightgear, auto.
const char* SourceRecord(ServerSource source);
