// Randomly damaged executables: the reader refuses them with a code or the rewrite
// gives an image that reads back with the same resources. Run under AddressSanitizer
// and UndefinedBehaviorSanitizer in the sanitizer build, this is the parser's
// safety net beside the libFuzzer target.
#include "PeTestFiles.h"
#include "SyntheticPe.h"
#include "selfextract/PeImage.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

using namespace kp::platform;

namespace kp::test {

namespace {

std::vector<std::vector<std::uint8_t>> seedImages() {
    std::vector<std::vector<std::uint8_t>> seeds;
    for (bool plus : {false, true}) {
        SyntheticPe input;
        input.pe32Plus = plus;
        input.relocAfterResources = plus;
        input.resources = {
            testResource(ResourceName::fromId(3), ResourceName::fromId(1), 1033,
                         randomBytes(40, 1)),
            testResource(ResourceName::fromId(10), ResourceName::fromText(u"CABINET"), 9,
                         randomBytes(64, 2)),
            testResource(ResourceName::fromText(u"T"), ResourceName::fromText(u"n"), 0,
                         randomBytes(3, 3)),
        };
        input.overlay = randomBytes(16, 4);
        input.certificate = randomBytes(24, 5);
        seeds.push_back(input.build());
    }
#ifdef KSTUB16_PATH
    if (std::filesystem::exists(KSTUB16_PATH)) {
        seeds.push_back(readBytes(KSTUB16_PATH));
    }
#endif
    return seeds;
}

// Damage aimed where it hurts: header fields, table entries, lengths.
void mutate(std::vector<std::uint8_t>& image, std::mt19937& random) {
    static const std::uint32_t kInteresting[] = {0,          1,          0x7FFFFFFF, 0x80000000,
                                                 0xFFFFFFFF, 0xFFFF,     0x1000,     0x200,
                                                 0x80000010, 0x80000018, 16,         0x10000};
    int count = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < count && !image.empty(); ++i) {
        std::size_t limit =
            random() % 3 == 0 ? image.size() : std::min<std::size_t>(image.size(), 0x600);
        if (random() % 4 == 0) {
            limit = image.size();
        }
        std::size_t at = random() % limit;
        switch (random() % 5) {
        case 0:
            image[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            break;
        case 1:
            image[at] = static_cast<std::uint8_t>(random());
            break;
        case 2:
            if (at + 4 <= image.size()) {
                put32(image, at & ~std::size_t{1},
                      kInteresting[random() % std::size(kInteresting)]);
            }
            break;
        case 3:
            if (at + 2 <= image.size()) {
                put16(image, at, static_cast<std::uint16_t>(random()));
            }
            break;
        default:
            image.resize(at + 1);
            break;
        }
    }
}

TEST(PeImageMutationTest, DamagedImagesAreRefusedOrRewrittenIntoReadableOnes) {
    std::mt19937 random(20240611);
    std::vector<std::vector<std::uint8_t>> seeds = seedImages();
    const std::vector<std::uint8_t> cabinet = randomBytes(1000, 9);
    int refused = 0;
    int rewritten = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> image = seeds[random() % seeds.size()];
        mutate(image, random);
        std::vector<Resource> resources;
        std::vector<std::uint8_t> output;
        try {
            ImageBytes bytes(image);
            PeLayout layout = readPeLayout(bytes);
            resources = readPeResources(bytes, layout);
            resources.push_back(testResource(ResourceName::fromId(10),
                                             ResourceName::fromText(u"CABINET2"), 9, cabinet));
            output = rebuildPeImage(bytes, layout, resources);
        } catch (const ImageError&) {
            ++refused;
            continue;
        }
        ++rewritten;
        ImageBytes rebuilt(output);
        std::vector<Resource> readBack;
        ASSERT_NO_THROW(readBack = readPeResources(rebuilt, readPeLayout(rebuilt)))
            << "round " << round;
        ASSERT_EQ(readBack.size(), resources.size()) << "round " << round;
        for (const Resource& resource : resources) {
            std::vector<Resource> copy = readBack;
            Resource* found = findResource(copy, resource.type, resource.name, resource.language);
            ASSERT_NE(found, nullptr) << "round " << round;
            EXPECT_EQ(found->data, resource.data) << "round " << round;
        }
    }
    // Both outcomes must be common, or the damage is aimed badly.
    EXPECT_GT(refused, 400);
    EXPECT_GT(rewritten, 400);
}

} // namespace

} // namespace kp::test
