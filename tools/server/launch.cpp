// Starting companion programs for benchmarks.
#include "tools/server/launch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"

std::string ReadWholeTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TempLogPath(const char* what) {
    return (std::filesystem::temp_directory_path() /
            (std::string("kovex-bench-") + what + "-" + std::to_string(plat::CurrentProcessId()) + ".log"))
        .string();
}

plat::ChildProcess StartLogged(std::vector<std::string> args, const std::string& logPath) {
    return plat::StartChildProcess(args, logPath);
}

std::uint16_t StartServerOnFreePort(const std::string& serverPath, const std::vector<std::string>& extraArgs,
                                    plat::ChildProcess& child, const std::string& logPath) {
    std::vector<std::string> args{serverPath, "--port", "0", "--exit-with-parent", "--lifetime", "120"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    child = StartLogged(args, logPath);
    const std::uint32_t start = plat::TickCount();
    const std::string marker = "listening on 127.0.0.1:";
    while (child && plat::TickCount() - start < 10000 && plat::ChildProcessRunning(child)) {
        const std::string text = ReadWholeTextFile(logPath);
        const std::size_t end = text.find('\n');
        if (text.rfind(marker, 0) == 0 && end != std::string::npos)
            return static_cast<std::uint16_t>(std::atoi(text.c_str() + marker.size()));
        plat::SleepMs(5);
    }
    return 0;
}
