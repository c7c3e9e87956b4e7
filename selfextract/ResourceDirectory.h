// The resource tree of a Windows executable (type, name, language), as the PE/COFF
// specification lays it out in the .rsrc section: read from an image and written
// anew in the order the loader's binary search expects.
#pragma once

#include "selfextract/ImageBytes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kp::platform {

// A resource type or name: a 16-bit number, or a text (then `text` is not empty).
struct ResourceName {
    std::u16string text;
    std::uint16_t id = 0;

    bool isText() const { return !text.empty(); }
    static ResourceName fromId(std::uint16_t id) { return {{}, id}; }
    static ResourceName fromText(std::u16string text) { return {std::move(text), 0}; }
};

// Texts before numbers; texts compared without regard to letter case, numbers by value.
bool resourceNameLess(const ResourceName& a, const ResourceName& b);
bool sameResourceName(const ResourceName& a, const ResourceName& b);

struct Resource {
    ResourceName type;
    ResourceName name;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    std::vector<std::uint8_t> data;
};

// The resource with this type, name and language in `resources`, or null.
Resource* findResource(std::vector<Resource>& resources, const ResourceName& type,
                       const ResourceName& name, std::uint16_t language);

// Resolves a data entry's address and size to its bytes; throws when they are not in
// the file.
using ResourceDataLocator = std::function<ImageBytes(std::uint32_t rva, std::uint32_t size)>;

// Reads the three-level tree whose root table starts `directory`. Offsets inside the
// tree are relative to that root; `directory` reaches to the end of the bytes that
// may hold tables and names. `dataBudget` caps the total size of the data copied out,
// so that entries pointing many times at the same large block cannot exhaust memory.
// Throws ImageError on a malformed tree: an entry outside `directory`, a table
// reached twice (a loop or a shared subtree), a level that is not a table where one
// belongs, data over budget. A repeated type, name and language keeps the first.
std::vector<Resource> readResourceDirectory(ImageBytes directory, const ResourceDataLocator& dataAt,
                                            std::uint64_t dataBudget);

// The bytes of a resource section holding `resources`, for a section whose first byte
// lies at the relative virtual address `sectionRva`. Throws ImageError when the
// tree cannot be expressed (more than 65535 entries in one table, or data that would
// reach past 4 GiB).
std::vector<std::uint8_t> writeResourceDirectory(const std::vector<Resource>& resources,
                                                 std::uint32_t sectionRva);

// The same bytes appended to `out`; returns their number. `spareAfter` more bytes are
// reserved behind them for what the caller appends next.
std::size_t appendResourceDirectory(const std::vector<Resource>& resources,
                                    std::uint32_t sectionRva, std::vector<std::uint8_t>& out,
                                    std::uint64_t spareAfter = 0);

// The same with the data of `streamed` (an element of `resources`, whose own `data` is
// not used) left to the caller: it is `streamedSize` bytes placed last in the section,
// and `out` ends where they begin. Returns the whole section's size, those bytes
// included.
std::uint64_t appendStreamedResourceDirectory(const std::vector<Resource>& resources,
                                              std::uint32_t sectionRva,
                                              std::vector<std::uint8_t>& out,
                                              const Resource* streamed, std::uint64_t streamedSize,
                                              std::uint64_t spareAfter = 0);

} // namespace kp::platform
