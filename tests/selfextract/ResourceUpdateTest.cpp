// The resource update against pefile and wrestool, readers we did not write.
#include "selfextract/ResourceUpdate.h"
#include "PeTestFiles.h"
#include "ScratchFolder.h"
#include "SyntheticPe.h"
#include "platform/FaultInjection.h"
#include "platform/LastError.h"
#include "selfextract/PeImage.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace kp::platform;

namespace kp::test {

namespace {

const std::string kPrompt = "Remove files from cabinet?";

std::vector<std::uint8_t> promptBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// Resources of both kinds in every table: text names before numbers, and letter
// case that a case-sensitive sort would order differently.
std::vector<Resource> mixedResources() {
    return {
        testResource(ResourceName::fromId(16), ResourceName::fromId(1), 1033, randomBytes(92, 1)),
        testResource(ResourceName::fromId(3), ResourceName::fromId(1), 1033, randomBytes(744, 2)),
        testResource(ResourceName::fromText(u"zdata"), ResourceName::fromId(7), 0,
                     randomBytes(5, 3)),
        testResource(ResourceName::fromText(u"Alpha"), ResourceName::fromText(u"b"), 9,
                     randomBytes(8, 4)),
        testResource(ResourceName::fromId(10), ResourceName::fromText(u"apple"), 9,
                     randomBytes(33, 5)),
        testResource(ResourceName::fromId(10), ResourceName::fromText(u"Zeta"), 9,
                     randomBytes(1, 6)),
        testResource(ResourceName::fromId(10), ResourceName::fromId(2), 9, {}),
    };
}

std::vector<std::string> expectedLines(const std::vector<Resource>& resources) {
    std::vector<std::string> lines;
    for (const Resource& r : resources) {
        lines.push_back(resourceLine(nameLabel(r.type), nameLabel(r.name), r.language, r.data));
    }
    return lines;
}

std::vector<std::string> sortedResourceLines(const std::vector<std::string>& report) {
    std::vector<std::string> lines;
    std::copy_if(report.begin(), report.end(), std::back_inserter(lines),
                 [](const std::string& line) { return line.rfind("resource ", 0) == 0; });
    std::sort(lines.begin(), lines.end());
    return lines;
}

void expectSoundImage(const std::vector<std::string>& report) {
    for (const char* check : {"checksum ok", "order ok", "layout ok"}) {
        EXPECT_NE(std::find(report.begin(), report.end(), check), report.end())
            << check << " missing from:\n"
            << testing::PrintToString(report);
    }
}

// Writes the two resources a self-extractor carries, as a Windows caller would.
bool writeSelfExtractorResources(const std::string& path, const std::vector<std::uint8_t>& cabinet,
                                 const std::string& prompt) {
    ResourceUpdateHandle handle = beginUpdateResource(path, false);
    updateResource(handle, kResourceTypeRcData, "CABINET", kLanguageEnglishNeutral, cabinet.data(),
                   static_cast<std::uint32_t>(cabinet.size()));
    std::vector<std::uint8_t> text = promptBytes(prompt);
    updateResource(handle, kResourceTypeRcData, "UPROMPT", kLanguageEnglishNeutral, text.data(),
                   static_cast<std::uint32_t>(text.size()));
    endUpdateResource(handle, false);
    return lastError() == kErrorSuccess;
}

struct Shape {
    const char* label;
    bool pe32Plus;
    bool withResources;
    bool relocAfterResources;
    bool withOverlayAndCertificate;
};

class ResourceUpdateShapeTest : public ::testing::TestWithParam<Shape> {
protected:
    ScratchFolder scratch;
};

TEST_P(ResourceUpdateShapeTest, ResourcesComeBackExactlyAndTheImageStaysSound) {
    const Shape& shape = GetParam();
    SyntheticPe input;
    input.pe32Plus = shape.pe32Plus;
    if (shape.withResources) {
        input.resources = mixedResources();
    }
    input.relocAfterResources = shape.relocAfterResources;
    std::vector<std::uint8_t> overlay = randomBytes(777, 11);
    std::vector<std::uint8_t> certificate = randomBytes(64, 12);
    if (shape.withOverlayAndCertificate) {
        input.overlay = overlay;
        input.certificate = certificate;
    }
    std::string path = scratch.path("stub.exe");
    writeBytes(path, input.build());

    std::vector<std::uint8_t> cabinet = randomBytes(300001, 13);
    ASSERT_TRUE(writeSelfExtractorResources(path, cabinet, kPrompt)) << lastError();

    std::vector<Resource> expected = input.resources;
    expected.push_back(
        testResource(ResourceName::fromId(10), ResourceName::fromText(u"CABINET"), 9, cabinet));
    expected.push_back(testResource(ResourceName::fromId(10), ResourceName::fromText(u"UPROMPT"), 9,
                                    promptBytes(kPrompt)));
    std::vector<std::string> report = pefileReport(path);
    std::vector<std::string> want = expectedLines(expected);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(sortedResourceLines(report), want);
    expectSoundImage(report);

    std::vector<std::uint8_t> output = readBytes(path);
    for (const char* name : {"CABINET", "UPROMPT"}) {
        std::string extracted = scratch.path(std::string(name) + ".bin");
        commandLines("wrestool -x -R -t 10 -n +" + std::string(name) + " -L 9 -o '" + extracted +
                     "' '" + path + "'");
        EXPECT_EQ(readBytes(extracted),
                  std::string(name) == "CABINET" ? cabinet : promptBytes(kPrompt))
            << "wrestool's copy of " << name;
    }
    if (shape.withOverlayAndCertificate) {
        ASSERT_GE(output.size(), overlay.size());
        EXPECT_TRUE(std::equal(overlay.begin(), overlay.end(),
                               output.end() - static_cast<std::ptrdiff_t>(overlay.size())))
            << "the overlay moves behind the new section, the certificate goes";
        ImageBytes bytes(output);
        EXPECT_EQ(bytes.u32(input.dataDirectories() + 4 * 8), 0u);
        EXPECT_EQ(bytes.u32(input.dataDirectories() + 4 * 8 + 4), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ResourceUpdateShapeTest,
    ::testing::Values(Shape{"Pe32NoResources", false, false, false, false},
                      Shape{"Pe32ResourcesLast", false, true, false, true},
                      Shape{"Pe32RelocAfterResources", false, true, true, false},
                      Shape{"Pe32PlusNoResources", true, false, true, true},
                      Shape{"Pe32PlusResourcesLast", true, true, false, false},
                      Shape{"Pe32PlusRelocAfterResources", true, true, true, true}),
    [](const auto& info) { return std::string(info.param.label); });

class ResourceUpdateTest : public ::testing::Test {
protected:
    std::string synthetic(bool relocAfterResources = true) {
        SyntheticPe input;
        input.resources = mixedResources();
        input.relocAfterResources = relocAfterResources;
        std::string path = scratch.path("stub.exe");
        writeBytes(path, input.build());
        return path;
    }

    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    ScratchFolder scratch;
    FaultScope faults;
};

TEST_F(ResourceUpdateTest, ReplacingAResourceKeepsOneCopyAndTheSectionInPlace) {
    std::string path = synthetic();
    ASSERT_TRUE(writeSelfExtractorResources(path, randomBytes(200000, 1), "first"));
    std::vector<std::uint8_t> first = readBytes(path);
    std::vector<std::uint8_t> smaller = randomBytes(1000, 2);
    ASSERT_TRUE(writeSelfExtractorResources(path, smaller, "second"));
    std::vector<std::uint8_t> second = readBytes(path);

    std::vector<std::string> lines = sortedResourceLines(pefileReport(path));
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.find("+CABINET") != std::string::npos; }),
        1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), resourceLine("10", "+CABINET", 9, smaller)),
              lines.end());
    EXPECT_EQ(readPeLayout(ImageBytes(first)).sections.size(),
              readPeLayout(ImageBytes(second)).sections.size());
    EXPECT_LT(second.size() + 190000, first.size()) << "the old cabinet's bytes are gone";
}

TEST_F(ResourceUpdateTest, NamesDifferingOnlyInLetterCaseAreOneResource) {
    std::string path = synthetic();
    ResourceUpdateHandle handle = beginUpdateResource(path, false);
    std::uint8_t one = 1;
    std::uint8_t two = 2;
    ASSERT_TRUE(updateResource(handle, kResourceTypeRcData, "Cabinet", 9, &one, 1));
    ASSERT_TRUE(updateResource(handle, kResourceTypeRcData, "CABINET", 9, &two, 1));
    ASSERT_TRUE(
        updateResource(handle, kResourceTypeRcData, "APPLE", 9, nullptr, 0)); // deletes "apple"
    ASSERT_TRUE(endUpdateResource(handle, false));
    std::vector<std::string> lines = sortedResourceLines(pefileReport(path));
    std::string joined;
    for (const std::string& line : lines) {
        joined += line + "\n";
    }
    EXPECT_EQ(joined.find("apple"), std::string::npos) << joined;
    EXPECT_EQ(joined.find("+Cabinet"), joined.rfind("+Cabinet")) << joined;
    EXPECT_NE(joined.find(resourceLine("10", "+Cabinet", 9, {2})), std::string::npos) << joined;
}

TEST_F(ResourceUpdateTest, DeleteExistingKeepsOnlyTheNewResources) {
    std::string path = synthetic(false);
    ResourceUpdateHandle handle = beginUpdateResource(path, true);
    std::vector<std::uint8_t> data = randomBytes(10, 3);
    ASSERT_TRUE(updateResource(handle, kResourceTypeRcData, "ONLY", 0x409, data.data(), 10));
    ASSERT_TRUE(endUpdateResource(handle, false));
    EXPECT_EQ(sortedResourceLines(pefileReport(path)),
              std::vector<std::string>{resourceLine("10", "+ONLY", 0x409, data)});
}

TEST_F(ResourceUpdateTest, FailuresReportTheirCodeAndLeaveTheFileAsItWas) {
    std::string path = synthetic();
    std::vector<std::uint8_t> original = readBytes(path);
    std::uint8_t byte = 0;

    EXPECT_EQ(beginUpdateResource(scratch.path("missing.exe"), false), kNoResourceUpdate);
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    // The handle of a failed begin keeps that failure's code through the later steps.
    EXPECT_FALSE(updateResource(kNoResourceUpdate, 10, "CABINET", 9, &byte, 1));
    EXPECT_FALSE(endUpdateResource(kNoResourceUpdate, false));
    EXPECT_EQ(lastError(), kErrorFileNotFound);

    EXPECT_EQ(beginUpdateResource(scratch.path("no/such/folder.exe"), false), kNoResourceUpdate);
    EXPECT_EQ(lastError(), kErrorPathNotFound);

    scratch.write("text.exe",
                  "This is not a program, only text long enough to have a header......");
    EXPECT_EQ(beginUpdateResource(scratch.path("text.exe"), false), kNoResourceUpdate);
    EXPECT_EQ(lastError(), kErrorBadExeFormat);
    scratch.write("empty.exe", "");
    EXPECT_EQ(beginUpdateResource(scratch.path("empty.exe"), false), kNoResourceUpdate);
    EXPECT_EQ(lastError(), kErrorBadExeFormat);
    EXPECT_EQ(beginUpdateResource(scratch.path(), false), kNoResourceUpdate);
    EXPECT_EQ(lastError(), kErrorAccessDenied);

    setResourceUpdateAvailable(false);
    EXPECT_EQ(beginUpdateResource(path, false), kNoResourceUpdate);
    EXPECT_EQ(lastError(), kErrorCallNotImplemented);
    EXPECT_FALSE(updateResource(kNoResourceUpdate, 10, "CABINET", 9, &byte, 1));
    EXPECT_EQ(lastError(), kErrorCallNotImplemented);
    EXPECT_FALSE(endUpdateResource(kNoResourceUpdate, false));
    EXPECT_EQ(lastError(), kErrorCallNotImplemented);
    setResourceUpdateAvailable(true);

    ResourceUpdateHandle handle = beginUpdateResource(path, false);
    ASSERT_NE(handle, kNoResourceUpdate);
    ASSERT_TRUE(updateResource(handle, 10, "CABINET", 9, &byte, 1));
    injectFault({FileOperation::Write, "", kErrorDiskFull, 0, 1});
    EXPECT_FALSE(endUpdateResource(handle, false));
    EXPECT_EQ(lastError(), kErrorDiskFull);
    EXPECT_FALSE(endUpdateResource(handle, false)) << "the handle is gone after its end";
    EXPECT_EQ(lastError(), kErrorInvalidHandle);

    handle = beginUpdateResource(path, false);
    ASSERT_TRUE(updateResource(handle, 10, "CABINET", 9, &byte, 1));
    EXPECT_TRUE(endUpdateResource(handle, true));
    EXPECT_EQ(lastError(), kErrorSuccess);

    EXPECT_EQ(readBytes(path), original);
    std::vector<std::string> names = leftovers();
    EXPECT_EQ(
        std::count_if(names.begin(), names.end(),
                      [](const std::string& n) { return n.find(".tmp") != std::string::npos; }),
        0)
        << testing::PrintToString(names);
}

TEST_F(ResourceUpdateTest, HeadersThatContradictTheFileAreRefused) {
    SyntheticPe input;
    input.resources = mixedResources();
    const std::vector<std::uint8_t> image = input.build();
    const std::uint32_t opt = input.optionalHeader();
    const std::uint32_t table = opt + 224;
    const std::uint32_t resourceSection = ImageBytes(image).u32(table + 40 + 20);
    struct Damage {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    };
    for (const Damage& damage : {
             Damage{"SizeOfHeaders short of the section table", opt + 60, 0x40},
             Damage{"file alignment not a power of two", opt + 36, 0x300},
             Damage{"resource directory outside every section", input.dataDirectories() + 16,
                    0x7FFF0000},
             Damage{"resource table that leads back to the root", resourceSection + 20, 0x80000000},
             Damage{"resource data entry past the end", resourceSection + 20, 0x8FFFFFF0},
             Damage{"section raw data past the end", table + 40 + 16, 0x10000000},
         }) {
        std::vector<std::uint8_t> damaged = image;
        put32(damaged, damage.offset, damage.value);
        writeBytes(scratch.path("damaged.exe"), damaged);
        EXPECT_EQ(beginUpdateResource(scratch.path("damaged.exe"), false), kNoResourceUpdate)
            << damage.what;
        EXPECT_EQ(lastError(), kErrorBadExeFormat) << damage.what;
    }
}

TEST_F(ResourceUpdateTest, EveryTruncationOfAnImageIsRefusedOrRewrittenSoundly) {
    SyntheticPe input;
    input.resources = mixedResources();
    std::vector<std::uint8_t> image = input.build();
    int refused = 0;
    for (std::size_t length = 0; length < image.size(); length += 7) {
        std::vector<std::uint8_t> cut(image.begin(),
                                      image.begin() + static_cast<std::ptrdiff_t>(length));
        writeBytes(scratch.path("cut.exe"), cut);
        ResourceUpdateHandle handle = beginUpdateResource(scratch.path("cut.exe"), false);
        if (handle == kNoResourceUpdate) {
            EXPECT_EQ(lastError(), kErrorBadExeFormat) << "length " << length;
            ++refused;
            continue;
        }
        EXPECT_TRUE(endUpdateResource(handle, false)) << "length " << length;
    }
    EXPECT_GT(refused, 0);
}

// Real executables: our own stub with its icon, version and manifest, and Wine's
// programs (PE32 and PE32+) with theirs; every resource they had survives unchanged.
class ResourceUpdateRealImageTest : public ::testing::TestWithParam<std::string> {
protected:
    ScratchFolder scratch;
};

TEST_P(ResourceUpdateRealImageTest, KeepsEveryResourceItHad) {
    if (!std::filesystem::exists(GetParam())) {
        GTEST_SKIP() << GetParam() << " is not on this machine";
    }
    std::string path = scratch.path("copy.exe");
    std::filesystem::copy_file(GetParam(), path);
    std::vector<std::string> before = sortedResourceLines(pefileReport(path));
    ASSERT_FALSE(before.empty()) << "the input is expected to have resources";
    std::vector<std::uint8_t> cabinet = randomBytes(123457, 21);
    ASSERT_TRUE(writeSelfExtractorResources(path, cabinet, kPrompt)) << lastError();
    std::vector<std::string> report = pefileReport(path);
    std::vector<std::string> after = sortedResourceLines(report);
    before.push_back(resourceLine("10", "+CABINET", 9, cabinet));
    before.push_back(resourceLine("10", "+UPROMPT", 9, promptBytes(kPrompt)));
    std::sort(before.begin(), before.end());
    EXPECT_EQ(after, before);
    expectSoundImage(report);
}

INSTANTIATE_TEST_SUITE_P(
    Images, ResourceUpdateRealImageTest,
    ::testing::Values(
#ifdef KSTUB16_PATH
        std::string(KSTUB16_PATH),
#endif
        std::string("/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe"),
        std::string("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe")),
    [](const auto& info) {
        return std::to_string(info.index) + "_" +
               std::filesystem::path(info.param).parent_path().filename().string().substr(0, 3);
    });

} // namespace

} // namespace kp::test
