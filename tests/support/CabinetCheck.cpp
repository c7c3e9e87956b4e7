#include "CabinetCheck.h"
#include "cab_readers.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace kp::test {

namespace fs = std::filesystem;

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

unsigned cabinetU8(const std::string& bytes, std::size_t offset) {
    EXPECT_LT(offset, bytes.size()) << "the cabinet ends before the field";
    return offset < bytes.size() ? static_cast<unsigned char>(bytes[offset]) : 0;
}

unsigned cabinetU16(const std::string& bytes, std::size_t offset) {
    return cabinetU8(bytes, offset) | cabinetU8(bytes, offset + 1) << 8;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

std::vector<CabinetFile> readCabinet(const std::string& path) {
    std::vector<CabEntry> entries;
    std::string error;
    if (!readWithMspack(path, entries, error, false)) {
        ADD_FAILURE() << error;
    }
    std::vector<CabinetFile> files;
    for (CabEntry& entry : entries) {
        files.push_back({entry.name, std::string(entry.data.begin(), entry.data.end()),
                         static_cast<unsigned>(entry.attribs)});
    }
    return files;
}

NamedContents cabinetContents(const std::string& path) {
    NamedContents contents;
    for (const CabinetFile& file : readCabinet(path)) {
        contents.emplace_back(file.name, file.data);
    }
    return contents;
}

std::map<std::string, std::string> readTree(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) {
            files[fs::relative(item.path(), folder).string()] = readFileBytes(item.path().string());
        }
    }
    return files;
}

std::map<std::string, std::string> extractWithCabextract(const std::string& firstCabinet,
                                                         const std::string& folder) {
    fs::create_directories(folder);
    std::string command = "cabextract -q -d '" + folder + "' '" + firstCabinet + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    int status = pipe ? ::pclose(pipe) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "cabextract failed on " << firstCabinet << ":\n"
        << output;
    return readTree(folder);
}

std::vector<std::string> leftoverTempFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) {
        return names;
    }
    for (const auto& item : fs::directory_iterator(folder)) {
        std::string name = item.path().filename().string();
        if (name.rfind("kFw", 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace kp::test
