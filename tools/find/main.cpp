// kovex-find: lists the servers announced on the local network; --use writes one into a settings file.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/discover.h"
#include "shell/profile_file.h"
#include "tools/cli/option_values.h"

namespace {

const char* const kUsage =
    "usage: kovex-find [--wait SECONDS] [--use NAME --settings FILE]\n"
    "Lists the KOVEXFuel servers announced on the local network over DNS-SD (multicast DNS, through\n"
    "the avahi daemon), one line each: NAME, ADDRESS, PORT, SOURCE and the computer's HOST name,\n"
    "separated by tabs.\n"
    "\n"
    "  --wait SECONDS   look for at most this long (default 2.5; less when the daemon has them all)\n"
    "  --use NAME       point the settings FILE at the server announced as NAME: its [LAN] keys\n"
    "                   USELAN=Y, KOVEXSERVER=ADDRESS and KOVEXPORT=PORT are written, every other\n"
    "                   line of the file is kept\n"
    "  --settings FILE  the panel's settings file (KOVEXFuel.INI) for --use\n"
    "  --help           show this text\n"
    "\n"
    "Exit status: 0 when a server was listed (with --use: written), 1 when none was found, NAME was not\n"
    "among them, the daemon could not be asked or the file not written, 2 for a bad argument.\n";

const char* SourceOf(const plat::FoundService& service) {
    for (const auto& [key, value] : service.txt)
        if (key == "source") return value.c_str();
    return "unknown";
}

bool WriteServer(const std::string& path, const plat::FoundService& server) {
    return WriteProfileString(path, "LAN", "USELAN", "Y") &&
           WriteProfileString(path, "LAN", "KOVEXSERVER", server.address) &&
           WriteProfileString(path, "LAN", "KOVEXPORT", std::to_string(server.port));
}

}  // namespace

int main(int argc, char** argv) {
    double wait = 2.5;
    std::string use;
    std::string settings;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--wait") {
            ok = TakeOptionValue(argc, argv, i, ParseNonNegative(value, 60.0, wait), error);
        } else if (arg == "--use") {
            ok = TakeOptionValue(argc, argv, i, value && *value, error);
            if (ok) use = value;
        } else if (arg == "--settings") {
            ok = TakeOptionValue(argc, argv, i, value && *value, error);
            if (ok) settings = value;
        } else {
            ok = false;
            error = "unknown argument: " + arg;
        }
        if (!ok) {
            std::fprintf(stderr, "kovex-find: %s\n%s", error.c_str(), kUsage);
            return 2;
        }
    }
    if (use.empty() != settings.empty()) {
        std::fprintf(stderr, "kovex-find: --use and --settings go together\n%s", kUsage);
        return 2;
    }

    std::vector<plat::FoundService> servers;
    if (!plat::FindServices("_kovexfuel._tcp", wait, servers, error)) {
        std::fprintf(stderr, "kovex-find: %s\n", error.c_str());
        return 1;
    }
    if (use.empty()) {
        for (const plat::FoundService& s : servers)
            std::printf("%s\t%s\t%u\t%s\t%s\n", s.name.c_str(), s.address.c_str(), s.port, SourceOf(s), s.host.c_str());
        if (servers.empty()) std::fprintf(stderr, "kovex-find: no server is announced on the local network\n");
        return servers.empty() ? 1 : 0;
    }
    for (const plat::FoundService& s : servers) {
        if (s.name != use) continue;
        if (!WriteServer(settings, s)) {
            std::fprintf(stderr, "kovex-find: cannot write the server into %s\n", settings.c_str());
            return 1;
        }
        std::printf("%s now uses \"%s\" at %s:%u\n", settings.c_str(), s.name.c_str(), s.address.c_str(), s.port);
        return 0;
    }
    std::fprintf(stderr, "kovex-find: no server announced as \"%s\" (%zu found)\n", use.c_str(), servers.size());
    return 1;
}
