// Small PE32 and PE32+ images written from the PE/COFF specification's field table,
// for tests that need executables of a chosen shape without a cross compiler.
#pragma once

#include "selfextract/ImageBytes.h"
#include "selfextract/PeImage.h"
#include "selfextract/ResourceDirectory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kp::test {

struct SyntheticPe {
    bool pe32Plus = false;
    // Resources of the input; written as a ".rsrc" section when not empty.
    std::vector<kp::platform::Resource> resources;
    // A ".reloc" section after the resources, as linkers place it by default.
    bool relocAfterResources = false;
    std::vector<std::uint8_t> overlay;     // bytes after the last section
    std::vector<std::uint8_t> certificate; // an Authenticode blob at the very end

    static constexpr std::uint32_t kFileAlignment = 0x200;
    static constexpr std::uint32_t kSectionAlignment = 0x1000;
    static constexpr std::uint32_t kPeHeader = 0x80;

    std::uint32_t optionalHeader() const { return kPeHeader + 24; }
    std::uint32_t dataDirectories() const { return optionalHeader() + (pe32Plus ? 112 : 96); }

    std::vector<std::uint8_t> build() const {
        using kp::platform::alignUp;
        using kp::platform::put16;
        using kp::platform::put32;
        struct Section {
            std::string name;
            std::vector<std::uint8_t> data;
            std::uint32_t characteristics;
        };
        std::vector<Section> sections;
        sections.push_back({".text", std::vector<std::uint8_t>(0x180, 0xC3), 0x60000020});
        std::uint32_t rva = 0x1000 * 2;
        std::uint32_t resourceRva = 0;
        if (!resources.empty()) {
            resourceRva = rva;
            sections.push_back(
                {".rsrc", kp::platform::writeResourceDirectory(resources, rva), 0x40000040});
            rva = static_cast<std::uint32_t>(
                alignUp(rva + sections.back().data.size(), kSectionAlignment));
        }
        if (relocAfterResources) {
            sections.push_back({".reloc", std::vector<std::uint8_t>(12, 0), 0x42000040});
            put32(sections.back().data, 0, 0x1000);
            put32(sections.back().data, 4, 12);
        }

        std::vector<std::uint8_t> image(0x400, 0);
        image[0] = 'M';
        image[1] = 'Z';
        put32(image, 0x3C, kPeHeader);
        put32(image, kPeHeader, 0x00004550);
        std::uint32_t coff = kPeHeader + 4;
        put16(image, coff, pe32Plus ? 0x8664 : 0x014C);
        put16(image, coff + 2, static_cast<std::uint16_t>(sections.size()));
        std::uint16_t optionalSize = pe32Plus ? 240 : 224;
        put16(image, coff + 16, optionalSize);
        put16(image, coff + 18, pe32Plus ? 0x0022 : 0x0102);
        std::uint32_t opt = optionalHeader();
        put16(image, opt, pe32Plus ? 0x20B : 0x10B);
        put32(image, opt + 16, 0x1000); // entry point
        put32(image, opt + 32, kSectionAlignment);
        put32(image, opt + 36, kFileAlignment);
        put16(image, opt + 40, 4); // OS version
        put16(image, opt + 48, 4); // subsystem version
        put32(image, opt + 60, 0x400);
        put16(image, opt + 68, 2); // Windows GUI
        put32(image, opt + (pe32Plus ? 108 : 92), 16);
        std::uint32_t table = opt + optionalSize;
        std::uint32_t sectionRva = 0x1000;
        std::uint32_t initialized = 0;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const Section& section = sections[i];
            std::uint32_t header = table + 40 * static_cast<std::uint32_t>(i);
            std::copy(section.name.begin(), section.name.end(), image.begin() + header);
            std::uint32_t raw =
                static_cast<std::uint32_t>(alignUp(section.data.size(), kFileAlignment));
            put32(image, header + 8, static_cast<std::uint32_t>(section.data.size()));
            put32(image, header + 12, sectionRva);
            put32(image, header + 16, raw);
            put32(image, header + 20, static_cast<std::uint32_t>(image.size()));
            put32(image, header + 36, section.characteristics);
            if (section.characteristics & 0x40) {
                initialized += raw;
            }
            image.insert(image.end(), section.data.begin(), section.data.end());
            image.resize(alignUp(image.size(), kFileAlignment), 0);
            if (section.name == ".reloc") {
                put32(image, dataDirectories() + 5 * 8, sectionRva);
                put32(image, dataDirectories() + 5 * 8 + 4, 12);
            }
            sectionRva = static_cast<std::uint32_t>(
                alignUp(sectionRva + section.data.size(), kSectionAlignment));
        }
        put32(image, opt + 8, initialized);
        put32(image, opt + 56, sectionRva); // SizeOfImage
        if (resourceRva) {
            put32(image, dataDirectories() + 2 * 8, resourceRva);
            put32(image, dataDirectories() + 2 * 8 + 4,
                  static_cast<std::uint32_t>(sections[1].data.size()));
        }
        image.insert(image.end(), overlay.begin(), overlay.end());
        if (!certificate.empty()) {
            put32(image, dataDirectories() + 4 * 8, static_cast<std::uint32_t>(image.size()));
            put32(image, dataDirectories() + 4 * 8 + 4,
                  static_cast<std::uint32_t>(certificate.size()));
            image.insert(image.end(), certificate.begin(), certificate.end());
        }
        put32(image, opt + 64, kp::platform::peChecksum(image.data(), image.size(), opt + 64));
        return image;
    }
};

} // namespace kp::test
