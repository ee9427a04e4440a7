#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

extern char** environ;

int64_t now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

std::string make_temp_dir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

void remove_temp_dir(const std::string& dir) {
    if (dir.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    return static_cast<bool>(file);
}

size_t count_of(std::string_view text, std::string_view needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

std::vector<status_line> parse_status(std::string_view bytes, std::string_view line_end) {
    static const std::regex line_form(
        R"(hit ctrl-C or ESC key to exit (\d\d:\d\d:\d\d) (\d+) (-?\d+)([ -]\d\.\d\d|\d\d\.\d\d|%\S+)%)");
    std::vector<status_line> lines;
    while (!bytes.empty()) {
        const size_t end = bytes.find(line_end);
        EXPECT_NE(end, std::string_view::npos)
            << "not a complete line: " << testing::PrintToString(std::string(bytes));
        if (end == std::string_view::npos) break;
        const std::string line(bytes.substr(0, end));
        bytes.remove_prefix(end + line_end.size());
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, line_form))
            << "not a status line: " << testing::PrintToString(line);
        if (m.empty()) continue;
        lines.push_back({m[1], std::stoll(m[2]), std::stoll(m[3]), m[4]});
    }
    return lines;
}

namespace {

int seconds_of_day(const std::string& clock) {
    return std::stoi(clock.substr(0, 2)) * 3600 + std::stoi(clock.substr(3, 2)) * 60 +
           std::stoi(clock.substr(6, 2));
}

}  // namespace

int clock_step(const status_line& from, const status_line& to) {
    return (seconds_of_day(to.clock) - seconds_of_day(from.clock) + 86400) % 86400;
}

bool crossed_midnight(const status_line& from, const status_line& to) {
    return seconds_of_day(to.clock) < seconds_of_day(from.clock);
}

std::vector<std::string> child_environment(const std::vector<std::string>& set,
                                           const std::vector<std::string>& unset) {
    const auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = name_of(entry);
        bool dropped = false;
        for (const std::string& s : set) dropped = dropped || name_of(s) == name;
        for (const std::string& u : unset) dropped = dropped || u == name;
        if (!dropped) merged.push_back(entry);
    }
    merged.insert(merged.end(), set.begin(), set.end());
    return merged;
}

std::vector<char*> c_pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string appended_to(const char* name, const std::string& extra) {
    const char* value = std::getenv(name);
    return std::string(name) + "=" + (value != nullptr ? value : "") + extra;
}

std::vector<std::string> faketime_environment(const char* library, const std::string& faketime) {
    return {std::string("LD_PRELOAD=") + library, "FAKETIME=" + faketime, "DONT_FAKE_MONOTONIC=1",
            "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
}
