// Checks cabinets with decoders we did not write: libmspack in-process, cabextract
// as a process for cabinet sets.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace kp::test {

struct CabinetFile {
    std::string name;
    std::string data;
    unsigned attributes = 0;
};

// Every file of one cabinet, in cabinet order, as libmspack decodes it. A cabinet
// libmspack cannot open or decode fails the current test.
std::vector<CabinetFile> readCabinet(const std::string& path);

// readCabinet's files as (stored name, contents), in order, to compare with the inputs.
using NamedContents = std::vector<std::pair<std::string, std::string>>;
NamedContents cabinetContents(const std::string& path);

// Extracts a cabinet (and the rest of its set, found beside it) with cabextract into
// `folder`, and returns every extracted file as relative path -> contents.
std::map<std::string, std::string> extractWithCabextract(const std::string& firstCabinet,
                                                         const std::string& folder);

// Every regular file under `folder` as relative path -> contents.
std::map<std::string, std::string> readTree(const std::string& folder);

std::string readFileBytes(const std::string& path);

// The 8- or 16-bit field of a cabinet file's bytes at `offset` (one of cab_format.h's
// names); the test fails and 0 comes back when the bytes end before it.
unsigned cabinetU8(const std::string& bytes, std::size_t offset);
unsigned cabinetU16(const std::string& bytes, std::size_t offset);
std::string randomBytes(std::size_t size, unsigned seed);

// Temporary files of the cabinet service left in `folder`.
std::vector<std::string> leftoverTempFiles(const std::string& folder);

} // namespace kp::test
