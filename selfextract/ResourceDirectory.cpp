#include "selfextract/ResourceDirectory.h"

#include "platform/LastError.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

namespace kp::platform {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000;
constexpr std::uint32_t kTableHeaderSize = 16;
constexpr std::uint32_t kEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
constexpr std::uint32_t kDataAlignment = 8;

// Letter case folded as the loader's comparison does for the letters of ASCII and
// Latin-1, which is every name a resource compiler or our own callers write.
char16_t foldCase(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    return c;
}

int compareText(const std::u16string& a, const std::u16string& b) {
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        char16_t x = foldCase(a[i]);
        char16_t y = foldCase(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool resourceLess(const Resource& a, const Resource& b) {
    if (!sameResourceName(a.type, b.type)) {
        return resourceNameLess(a.type, b.type);
    }
    if (!sameResourceName(a.name, b.name)) {
        return resourceNameLess(a.name, b.name);
    }
    return a.language < b.language;
}

class TreeReader {
public:
    TreeReader(ImageBytes directory, const ResourceDataLocator& dataAt, std::uint64_t dataBudget)
        : directory(directory), dataAt(dataAt), dataBudget(dataBudget),
          textBudget(4 * static_cast<std::uint64_t>(directory.size())) {}

    std::vector<Resource> read() {
        Resource path;
        walk(0, 0, path);
        // A repeated type, name and language keeps its first copy, as a lookup would find.
        std::stable_sort(resources.begin(), resources.end(), resourceLess);
        auto repeated = std::unique(resources.begin(), resources.end(),
                                    [](const Resource& a, const Resource& b) {
                                        return !resourceLess(a, b) && !resourceLess(b, a);
                                    });
        resources.erase(repeated, resources.end());
        return std::move(resources);
    }

private:
    // `level` 0 lists types, 1 names, 2 languages; `offset` is relative to the root.
    void walk(int level, std::uint32_t offset, Resource& path) {
        if (!visitedTables.insert(offset).second) {
            malformedImage("resource table reached twice");
        }
        std::uint32_t count =
            std::uint32_t{directory.u16(offset + 12)} + directory.u16(offset + 14);
        directory.slice(offset, kTableHeaderSize + std::uint64_t{count} * kEntrySize);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint64_t entry = offset + kTableHeaderSize + std::uint64_t{i} * kEntrySize;
            std::uint32_t nameField = directory.u32(entry);
            std::uint32_t target = directory.u32(entry + 4);
            ResourceName name = readName(nameField);
            if (level < 2) {
                if (!(target & kHighBit)) {
                    malformedImage("data where a resource table belongs");
                }
                (level == 0 ? path.type : path.name) = std::move(name);
                walk(level + 1, target & ~kHighBit, path);
            } else {
                if ((target & kHighBit) || name.isText()) {
                    malformedImage("resource tree deeper than three levels");
                }
                path.language = name.id;
                readData(target, path);
            }
        }
    }

    ResourceName readName(std::uint32_t field) {
        if (!(field & kHighBit)) {
            return ResourceName::fromId(static_cast<std::uint16_t>(field));
        }
        std::uint32_t offset = field & ~kHighBit;
        std::uint32_t length = directory.u16(offset);
        if (length == 0 || 2ull * length > textBudget) {
            malformedImage("resource name empty or over budget");
        }
        textBudget -= 2ull * length;
        ImageBytes text = directory.slice(offset + 2ull, 2ull * length);
        std::u16string name(length, u'\0');
        for (std::uint32_t i = 0; i < length; ++i) {
            name[i] = static_cast<char16_t>(text.u16(2ull * i));
        }
        return ResourceName::fromText(std::move(name));
    }

    void readData(std::uint32_t offset, const Resource& path) {
        std::uint32_t rva = directory.u32(offset);
        std::uint32_t size = directory.u32(offset + 4ull);
        std::uint32_t codePage = directory.u32(offset + 8ull);
        directory.slice(offset, kDataEntrySize);
        if (size > dataBudget) {
            malformedImage("resource data over budget");
        }
        dataBudget -= size;
        ImageBytes bytes = dataAt(rva, size);
        Resource resource{path.type, path.name, path.language, codePage,
                          std::vector<std::uint8_t>(bytes.data(), bytes.data() + bytes.size())};
        resources.push_back(std::move(resource));
    }

    ImageBytes directory;
    const ResourceDataLocator& dataAt;
    std::uint64_t dataBudget;
    std::uint64_t textBudget;
    std::unordered_set<std::uint32_t> visitedTables;
    std::vector<Resource> resources;
};

struct NameNode {
    const ResourceName* name;
    std::vector<const Resource*> languages; // sorted by language
};
struct TypeNode {
    const ResourceName* type;
    std::vector<NameNode> names;
};

std::vector<TypeNode> buildTree(const std::vector<Resource>& resources) {
    std::vector<const Resource*> sorted;
    sorted.reserve(resources.size());
    for (const Resource& resource : resources) {
        sorted.push_back(&resource);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Resource* a, const Resource* b) { return resourceLess(*a, *b); });
    std::vector<TypeNode> types;
    for (const Resource* resource : sorted) {
        if (types.empty() || !sameResourceName(*types.back().type, resource->type)) {
            types.push_back({&resource->type, {}});
        }
        std::vector<NameNode>& names = types.back().names;
        if (names.empty() || !sameResourceName(*names.back().name, resource->name)) {
            names.push_back({&resource->name, {}});
        }
        names.back().languages.push_back(resource);
    }
    return types;
}

class TreeWriter {
public:
    // Appends the section to `out`, whose present end is where the section starts.
    TreeWriter(const std::vector<TypeNode>& types, std::uint32_t sectionRva,
               std::vector<std::uint8_t>& out, std::uint64_t spareAfter,
               const Resource* streamed = nullptr, std::uint64_t streamedSize = 0)
        : types(types), sectionRva(sectionRva), out(out), base(out.size()), spareAfter(spareAfter),
          streamed(streamed), streamedSize(streamedSize) {}

    // The section's size; `out` holds all of it but a streamed resource's data.
    std::uint64_t write() {
        layOut();
        const std::uint64_t held = streamed ? streamedAt : totalSize;
        out.reserve(base + static_cast<std::size_t>(held + spareAfter));
        out.resize(base + static_cast<std::size_t>(held), 0);
        std::uint64_t nameTable = rootSize;
        std::uint64_t languageTable = rootSize + nameTablesSize;
        writeTableHeader(0, types);
        for (std::size_t t = 0; t < types.size(); ++t) {
            writeEntry(0, t, *types[t].type, kHighBit | static_cast<std::uint32_t>(nameTable));
            writeTableHeader(nameTable, types[t].names);
            for (std::size_t n = 0; n < types[t].names.size(); ++n) {
                const NameNode& node = types[t].names[n];
                writeEntry(nameTable, n, *node.name,
                           kHighBit | static_cast<std::uint32_t>(languageTable));
                writeLanguageTable(languageTable, node);
                languageTable += tableSize(node.languages.size());
            }
            nameTable += tableSize(types[t].names.size());
        }
        return totalSize;
    }

private:
    static std::uint64_t tableSize(std::size_t entries) {
        if (entries > std::numeric_limits<std::uint16_t>::max()) {
            throw ImageError(kErrorInvalidParameter, "too many resources in one table");
        }
        return kTableHeaderSize + std::uint64_t{kEntrySize} * entries;
    }

    // Tables first, then the names, then the data entries, then the data: the order the
    // PE/COFF specification gives.
    void layOut() {
        rootSize = tableSize(types.size());
        std::uint64_t nameBytes = 0;
        std::size_t leaves = 0;
        for (const TypeNode& type : types) {
            nameTablesSize += tableSize(type.names.size());
            nameBytes += textSize(*type.type);
            for (const NameNode& name : type.names) {
                languageTablesSize += tableSize(name.languages.size());
                nameBytes += textSize(*name.name);
                leaves += name.languages.size();
            }
        }
        nextText = rootSize + nameTablesSize + languageTablesSize;
        nextDataEntry = alignUp(nextText + nameBytes, 4);
        nextData = alignUp(nextDataEntry + std::uint64_t{kDataEntrySize} * leaves, kDataAlignment);
        totalSize = nextData;
        for (const TypeNode& type : types) {
            for (const NameNode& name : type.names) {
                for (const Resource* leaf : name.languages) {
                    if (leaf != streamed) {
                        totalSize = alignUp(totalSize, kDataAlignment) + leaf->data.size();
                    }
                }
            }
        }
        // Data written by the caller after the rest lies last, so that nothing of the
        // section follows it.
        if (streamed) {
            streamedAt = alignUp(totalSize, kDataAlignment);
            totalSize = streamedAt + streamedSize;
        }
        if (nextData > kHighBit ||
            sectionRva + totalSize > std::numeric_limits<std::uint32_t>::max()) {
            throw ImageError(kErrorFileTooLarge, "resources too large for an image");
        }
    }

    static std::uint64_t textSize(const ResourceName& name) {
        return name.isText() ? 2 + 2 * std::uint64_t{name.text.size()} : 0;
    }

    template <typename Children>
    void writeTableHeader(std::uint64_t offset, const Children& children) {
        std::size_t named = 0;
        for (const auto& child : children) {
            named += childName(child).isText() ? 1 : 0;
        }
        put16(out, base + offset + 12, static_cast<std::uint16_t>(named));
        put16(out, base + offset + 14, static_cast<std::uint16_t>(children.size() - named));
    }

    static const ResourceName& childName(const TypeNode& node) { return *node.type; }
    static const ResourceName& childName(const NameNode& node) { return *node.name; }

    void writeEntry(std::uint64_t table, std::size_t index, const ResourceName& name,
                    std::uint32_t target) {
        std::size_t entry = table + kTableHeaderSize + kEntrySize * index;
        put32(out, base + entry, name.isText() ? kHighBit | writeText(name.text) : name.id);
        put32(out, base + entry + 4, target);
    }

    std::uint32_t writeText(const std::u16string& text) {
        std::uint32_t offset = static_cast<std::uint32_t>(nextText);
        put16(out, base + offset, static_cast<std::uint16_t>(text.size()));
        for (std::size_t i = 0; i < text.size(); ++i) {
            put16(out, base + offset + 2 + 2 * i, text[i]);
        }
        nextText += 2 + 2 * text.size();
        return offset;
    }

    void writeLanguageTable(std::uint64_t offset, const NameNode& node) {
        put16(out, base + offset + 14, static_cast<std::uint16_t>(node.languages.size()));
        for (std::size_t i = 0; i < node.languages.size(); ++i) {
            const Resource& leaf = *node.languages[i];
            std::size_t entry = offset + kTableHeaderSize + kEntrySize * i;
            put32(out, base + entry, leaf.language);
            put32(out, base + entry + 4, static_cast<std::uint32_t>(nextDataEntry));
            if (&leaf == streamed) {
                put32(out, base + nextDataEntry,
                      static_cast<std::uint32_t>(sectionRva + streamedAt));
                put32(out, base + nextDataEntry + 4, static_cast<std::uint32_t>(streamedSize));
                put32(out, base + nextDataEntry + 8, leaf.codePage);
                nextDataEntry += kDataEntrySize;
                continue;
            }
            nextData = alignUp(nextData, kDataAlignment);
            put32(out, base + nextDataEntry, static_cast<std::uint32_t>(sectionRva + nextData));
            put32(out, base + nextDataEntry + 4, static_cast<std::uint32_t>(leaf.data.size()));
            put32(out, base + nextDataEntry + 8, leaf.codePage);
            std::copy(leaf.data.begin(), leaf.data.end(),
                      out.begin() + static_cast<std::ptrdiff_t>(base + nextData));
            nextDataEntry += kDataEntrySize;
            nextData += leaf.data.size();
        }
    }

    const std::vector<TypeNode>& types;
    std::uint64_t sectionRva;
    std::uint64_t rootSize = 0;
    std::uint64_t nameTablesSize = 0;
    std::uint64_t languageTablesSize = 0;
    std::uint64_t nextText = 0;
    std::uint64_t nextDataEntry = 0;
    std::uint64_t nextData = 0;
    std::uint64_t totalSize = 0;
    std::vector<std::uint8_t>& out;
    std::size_t base;
    std::uint64_t spareAfter;
    const Resource* streamed;
    std::uint64_t streamedSize;
    std::uint64_t streamedAt = 0; // from the section's start
};

} // namespace

bool resourceNameLess(const ResourceName& a, const ResourceName& b) {
    if (a.isText() != b.isText()) {
        return a.isText();
    }
    return a.isText() ? compareText(a.text, b.text) < 0 : a.id < b.id;
}

bool sameResourceName(const ResourceName& a, const ResourceName& b) {
    if (a.isText() != b.isText()) {
        return false;
    }
    return a.isText() ? compareText(a.text, b.text) == 0 : a.id == b.id;
}

Resource* findResource(std::vector<Resource>& resources, const ResourceName& type,
                       const ResourceName& name, std::uint16_t language) {
    for (Resource& resource : resources) {
        if (resource.language == language && sameResourceName(resource.type, type) &&
            sameResourceName(resource.name, name)) {
            return &resource;
        }
    }
    return nullptr;
}

std::vector<Resource> readResourceDirectory(ImageBytes directory, const ResourceDataLocator& dataAt,
                                            std::uint64_t dataBudget) {
    return TreeReader(directory, dataAt, dataBudget).read();
}

std::size_t appendResourceDirectory(const std::vector<Resource>& resources,
                                    std::uint32_t sectionRva, std::vector<std::uint8_t>& out,
                                    std::uint64_t spareAfter) {
    std::vector<TypeNode> types = buildTree(resources);
    return static_cast<std::size_t>(TreeWriter(types, sectionRva, out, spareAfter).write());
}

std::uint64_t appendStreamedResourceDirectory(const std::vector<Resource>& resources,
                                              std::uint32_t sectionRva,
                                              std::vector<std::uint8_t>& out,
                                              const Resource* streamed, std::uint64_t streamedSize,
                                              std::uint64_t spareAfter) {
    if (streamedSize > std::numeric_limits<std::uint32_t>::max()) {
        throw ImageError(kErrorFileTooLarge, "resource too large for an image");
    }
    std::vector<TypeNode> types = buildTree(resources);
    return TreeWriter(types, sectionRva, out, spareAfter, streamed, streamedSize).write();
}

std::vector<std::uint8_t> writeResourceDirectory(const std::vector<Resource>& resources,
                                                 std::uint32_t sectionRva) {
    std::vector<std::uint8_t> out;
    appendResourceDirectory(resources, sectionRva, out);
    return out;
}

} // namespace kp::platform
