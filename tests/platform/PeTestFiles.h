// Files and readers shared by the tests of the resource update.
#pragma once

#include "selfextract/ResourceDirectory.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <zlib.h>

namespace kp::test {

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> randomBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// Output lines of a command, stderr included.
inline std::vector<std::string> commandLines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return lines;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    ::pclose(pipe);
    return lines;
}

// pefile's view of an image (see pe_resources.py): resource lines, then the checks.
inline std::vector<std::string> pefileReport(const std::string& path) {
    return commandLines(std::string("/usr/bin/python3 ") + PE_RESOURCES_SCRIPT + " '" + path + "'");
}

inline std::string resourceLine(const std::string& type, const std::string& name, int language,
                                const std::vector<std::uint8_t>& data) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08lx",
                  ::crc32(0, data.data(), static_cast<uInt>(data.size())));
    return "resource " + type + " " + name + " " + std::to_string(language) + " " +
           std::to_string(data.size()) + " " + crc;
}

inline std::string nameLabel(const kp::platform::ResourceName& name) {
    if (!name.isText()) {
        return std::to_string(name.id);
    }
    std::string text = "+";
    for (char16_t c : name.text) {
        text.push_back(static_cast<char>(c)); // the tests' names are ASCII
    }
    return text;
}

inline kp::platform::Resource testResource(kp::platform::ResourceName type,
                                           kp::platform::ResourceName name, std::uint16_t language,
                                           std::vector<std::uint8_t> data) {
    return {std::move(type), std::move(name), language, 0, std::move(data)};
}

} // namespace kp::test
