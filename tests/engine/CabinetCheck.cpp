#include "CabinetCheck.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mspack.h>
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
    std::vector<CabinetFile> files;
    mscab_decompressor* decoder = mspack_create_cab_decompressor(nullptr);
    if (!decoder) {
        ADD_FAILURE() << "libmspack could not start";
        return files;
    }
    mscabd_cabinet* cabinet = decoder->open(decoder, const_cast<char*>(path.c_str()));
    if (!cabinet) {
        ADD_FAILURE() << "libmspack cannot open " << path << ": error "
                      << decoder->last_error(decoder);
        mspack_destroy_cab_decompressor(decoder);
        return files;
    }
    std::string scratch = path + ".extracted";
    for (mscabd_file* file = cabinet->files; file; file = file->next) {
        if (decoder->extract(decoder, file, const_cast<char*>(scratch.c_str())) != MSPACK_ERR_OK) {
            ADD_FAILURE() << "libmspack cannot extract " << file->filename << " from " << path
                          << ": error " << decoder->last_error(decoder);
            continue;
        }
        files.push_back(
            {file->filename, readFileBytes(scratch), static_cast<unsigned>(file->attribs)});
    }
    std::remove(scratch.c_str());
    decoder->close(decoder, cabinet);
    mspack_destroy_cab_decompressor(decoder);
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
