// kovex-server: answers the panel's remote variable requests from the flight model or a simulator.
#include <cstdio>
#include <string>

#include "tools/server/options.h"
#include "tools/server/server.h"

int main(int argc, char** argv) {
    ServerOptions options;
    std::string error;
    if (!ParseServerOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "kovex-server: %s\n%s", error.c_str(), ServerUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(ServerUsage(), stdout);
        return 0;
    }
    return RunServer(options);
}
