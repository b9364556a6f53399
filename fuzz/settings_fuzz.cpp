// libFuzzer target of the settings file's reader and writer: any file contents, then reads and
// one write, which must change that key alone. Built and run by scripts/fuzz-settings.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/settings_file.h"
#include "settings_invariants.h"

namespace {

// A private directory in memory when there is one: every run writes the file twice.
std::string make_work_path()
{
    for (const char* pattern : {"/dev/shm/settings_fuzz.XXXXXX", "/tmp/settings_fuzz.XXXXXX"}) {
        std::string directory = pattern;
        if (::mkdtemp(directory.data()) != nullptr) return directory + "/ini.ini";
    }
    std::abort();
}

const std::string& work_path()
{
    static const std::string path = make_work_path();
    return path;
}

std::string file_contents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void expect(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "settings_fuzz: %s\n", what);
    std::abort();
}

constexpr const char* sections[] = {"pingtest", "PingTest", "other", " pingtest"};
constexpr const char* keys[] = {"gway_ip", "GWAY_IP", "outer_ip", " gway_ip\t"};
constexpr const char* values[] = {"127.0.0.9", "", "v=1;[x]", "网关"};

}  // namespace

// The first byte picks the section, key and value of the write; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::string& path = work_path();
    const std::string before(reinterpret_cast<const char*>(data + 1), size - 1);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << before;
    const std::string section = sections[data[0] & 3];
    const std::string key = keys[(data[0] >> 2) & 3];
    const std::string value = values[(data[0] >> 4) & 3];

    for (const char* name : keys)
        expect(quorvel::read_setting(path, section, name, "-").size() <= 10239, "value longer than the limit");
    const std::string other_before = quorvel::read_setting(path, section, "outer_ou_num", "-");

    quorvel::write_setting(path, section, key, value);
    expect(quorvel::testing::rest_of_file_kept(before, file_contents(path)), "write changed other content");
    expect(quorvel::read_setting(path, section, key, "-") == value, "written value not read back");
    expect(quorvel::read_setting(path, section, "outer_ou_num", "-") == other_before, "other key changed");
    return 0;
}
