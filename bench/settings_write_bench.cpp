// The cost of one settings write with its lock: median and worst of N writes of a file of S bytes
// (default 1000 writes of 1 KB), each changing one key, in a fresh folder under $TMPDIR or the
// folder given.
//   settings_write_bench [WRITES] [BYTES] [FOLDER]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/settings_file.h"

int main(int argc, char** argv)
{
    const int writes = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::size_t bytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    std::string folder;
    if (argc > 3) {
        folder = argv[3];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/settings_bench.XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) return 1;
    }
    const std::string path = folder + "/ini.ini";
    const std::string header = "[pingtest]\ngway_ip=127.0.0.1\nn=00000000\npadding=";
    quorvel::write_setting(path, quorvel::settings_section, "gway_ip", "127.0.0.1");
    quorvel::write_setting(path, quorvel::settings_section, "n", "00000000");
    quorvel::write_setting(path, quorvel::settings_section, "padding",
                           std::string(bytes > header.size() + 1 ? bytes - header.size() - 1 : 0, 'p'));
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(writes));
    for (int i = 0; i < writes; ++i) {
        char value[16];
        std::snprintf(value, sizeof value, "%08d", i + 1);
        const auto start = std::chrono::steady_clock::now();
        quorvel::write_setting(path, quorvel::settings_section, "n", value);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("settings write with lock, %d writes of a %zu-byte file in %s:\n", writes, bytes,
                folder.c_str());
    std::printf("  median %.3f ms   90%% %.3f ms   worst %.3f ms\n", ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back());
    if (argc <= 3) {
        ::unlink(path.c_str());
        ::unlink((folder + "/.ini.ini.lock").c_str());
        ::rmdir(folder.c_str());
    }
    return 0;
}
