// The self-extractor writer: the image it streams, and every way a build can fail
// leaving the earlier target byte for byte and nothing of the build.
#include "selfextract/SelfExtractor.h"

#include "PeTestFiles.h"
#include "ScratchFolder.h"
#include "SyntheticPe.h"
#include "platform/LastError.h"
#include "selfextract/PeImage.h"
#include "selfextract/ResourceUpdate.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kp::test {
namespace {

using namespace kp::platform;
using kp::selfextract::SfxLayout;
using kp::selfextract::SfxRequest;
using kp::selfextract::SfxResult;
using kp::selfextract::writeSelfExtractor;

std::map<std::string, std::vector<std::uint8_t>> folderState(const std::string& folder) {
    std::map<std::string, std::vector<std::uint8_t>> state;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        state[entry.path().filename().string()] = readBytes(entry.path().string());
    }
    return state;
}

std::vector<std::uint8_t> rcData(const std::string& text) {
    return {text.begin(), text.end()};
}

class SelfExtractorTest : public ::testing::Test {
protected:
    void SetUp() override {
        SyntheticPe pe;
        pe.resources.push_back(testResource(ResourceName::fromId(16), ResourceName::fromId(1), 1033,
                                            rcData("version")));
        pe.resources.push_back(testResource(ResourceName::fromId(10),
                                            ResourceName::fromText(u"CABINET"), 9,
                                            rcData("an older cabinet")));
        pe.relocAfterResources = true; // the resources cannot stay where they are
        pe.overlay = rcData("overlay kept behind the sections");
        stub = scratch.path("stub.exe");
        writeBytes(stub, pe.build());
        cabinet = scratch.path("data.cab");
        writeBytes(cabinet, randomBytes((3 << 20) + 1, 5)); // odd: the checksum's last word
        out = scratch.folder("out");
        target = out + "setup.exe";
        earlier = randomBytes(5000, 9);
        writeBytes(target, earlier);
    }

    SfxRequest request(SfxLayout layout = SfxLayout::Windows) const {
        SfxRequest made;
        made.layout = layout;
        made.stub = stub;
        made.cabinet = cabinet;
        made.prompt = "Unpack?";
        made.target = target;
        return made;
    }

    // The earlier target as it was, and nothing else.
    void expectEarlierOnly() {
        EXPECT_EQ(folderState(out),
                  (std::map<std::string, std::vector<std::uint8_t>>{{"setup.exe", earlier}}));
    }

    ScratchFolder scratch;
    std::string stub;
    std::string cabinet;
    std::string out;
    std::string target;
    std::vector<std::uint8_t> earlier;
};

TEST_F(SelfExtractorTest, TheStreamedImageHoldsWhatTheResourceUpdateWouldWriteWithAValidChecksum) {
    for (bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        SyntheticPe pe;
        pe.pe32Plus = pe32Plus;
        pe.resources.push_back(testResource(ResourceName::fromId(16), ResourceName::fromId(1), 1033,
                                            rcData("version")));
        pe.relocAfterResources = true;
        pe.overlay = rcData("overlay");
        writeBytes(stub, pe.build());
        SfxResult result = writeSelfExtractor(request());
        ASSERT_EQ(result.code, 0u);
        std::vector<std::uint8_t> image = readBytes(target);
        EXPECT_EQ(result.size, image.size());

        // The same changes through the in-memory resource update.
        std::string expected = scratch.path("expected.exe");
        writeBytes(expected, pe.build());
        std::vector<std::uint8_t> cabinetBytes = readBytes(cabinet);
        ResourceUpdateHandle update = beginUpdateResource(expected, false);
        ASSERT_TRUE(updateResource(update, kResourceTypeRcData, "CABINET", kLanguageEnglishNeutral,
                                   cabinetBytes.data(),
                                   static_cast<std::uint32_t>(cabinetBytes.size())));
        ASSERT_TRUE(updateResource(update, kResourceTypeRcData, "UPROMPT", kLanguageEnglishNeutral,
                                   "Unpack?", 8));
        ASSERT_TRUE(endUpdateResource(update, false));

        ImageBytes bytes(image);
        PeLayout layout = readPeLayout(bytes);
        std::vector<std::uint8_t> expectedImage = readBytes(expected);
        ImageBytes expectedBytes(expectedImage);
        std::vector<Resource> got = readPeResources(bytes, layout);
        std::vector<Resource> want = readPeResources(expectedBytes, readPeLayout(expectedBytes));
        ASSERT_EQ(got.size(), 3u);
        ASSERT_EQ(want.size(), 3u);
        for (Resource& resource : want) {
            Resource* same = findResource(got, resource.type, resource.name, resource.language);
            ASSERT_NE(same, nullptr) << nameLabel(resource.name);
            EXPECT_TRUE(same->data == resource.data) << nameLabel(resource.name);
        }
        EXPECT_EQ(image.size(), expectedImage.size());
        const std::size_t checksumField = layout.optionalHeader + 64;
        EXPECT_EQ(bytes.u32(checksumField), peChecksum(image.data(), image.size(), checksumField));
        EXPECT_TRUE(std::equal(image.end() - 7, image.end(), rcData("overlay").begin()));
    }
    EXPECT_EQ(folderState(out).size(), 1u);
}

TEST_F(SelfExtractorTest, AnEarlierCabinetOfTheStubIsReplacedAndTheDosLayoutIsStubThenCabinet) {
    ASSERT_EQ(writeSelfExtractor(request()).code, 0u);
    std::vector<std::uint8_t> image = readBytes(target);
    ImageBytes bytes(image);
    std::vector<Resource> resources = readPeResources(bytes, readPeLayout(bytes));
    EXPECT_EQ(resources.size(), 3u);
    Resource* packed =
        findResource(resources, ResourceName::fromId(10), ResourceName::fromText(u"CABINET"), 9);
    ASSERT_NE(packed, nullptr);
    EXPECT_TRUE(packed->data == readBytes(cabinet));

    SfxRequest dos = request(SfxLayout::Dos);
    dos.replace = false;
    EXPECT_EQ(writeSelfExtractor(dos).code, kErrorFileExists);
    dos.replace = true;
    ASSERT_EQ(writeSelfExtractor(dos).code, 0u);
    std::vector<std::uint8_t> expected = readBytes(stub);
    std::vector<std::uint8_t> cabinetBytes = readBytes(cabinet);
    expected.insert(expected.end(), cabinetBytes.begin(), cabinetBytes.end());
    EXPECT_TRUE(readBytes(target) == expected);
    EXPECT_EQ(folderState(out).size(), 1u);
}

TEST_F(SelfExtractorTest, AFailedOrStoppedBuildLeavesTheEarlierTargetAndNothingElse) {
    std::vector<std::uint8_t> whole = readBytes(stub);
    std::string bad = scratch.path("bad.exe");
    writeBytes(bad, randomBytes(5000, 3));
    std::string truncated = scratch.path("truncated.exe");
    writeBytes(truncated, std::vector<std::uint8_t>(whole.begin(), whole.begin() + 0x300));
    for (const std::string& broken : {bad, truncated}) {
        SCOPED_TRACE(broken);
        SfxRequest made = request();
        made.stub = broken;
        SfxResult result = writeSelfExtractor(made);
        EXPECT_EQ(result.code, kErrorBadExeFormat);
        EXPECT_EQ(result.failedPath, broken);
        expectEarlierOnly();
    }
    {
        SfxRequest made = request();
        made.cabinet = scratch.path("none.cab");
        EXPECT_EQ(writeSelfExtractor(made).code, kErrorFileNotFound);
        expectEarlierOnly();
    }
    // Stopped at a random piece of the cabinet, in either layout.
    std::mt19937 random(std::random_device{}());
    for (SfxLayout layout : {SfxLayout::Windows, SfxLayout::Dos}) {
        int calls = std::uniform_int_distribution<int>(0, 4)(random);
        SCOPED_TRACE("stopped at call " + std::to_string(calls));
        SfxRequest made = request(layout);
        made.keepGoing = [&calls] { return calls-- > 0; };
        SfxResult result = writeSelfExtractor(made);
        EXPECT_TRUE(result.interrupted);
        EXPECT_EQ(result.code, kErrorCancelled);
        expectEarlierOnly();
    }
    // Without replacing, a name taken while the build runs fails it.
    std::filesystem::remove(target);
    SfxRequest made = request();
    made.replace = false;
    made.keepGoing = [this] {
        writeBytes(target, earlier);
        return true;
    };
    EXPECT_EQ(writeSelfExtractor(made).code, kErrorFileExists);
    expectEarlierOnly();
}

// Memory that runs out is an error code, never an abort: a child process with a small
// address space reads a stub larger than it.
TEST_F(SelfExtractorTest, RunningOutOfMemoryIsAnErrorAndLeavesTheEarlierTarget) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit in a small address space";
#endif
    std::string huge = scratch.path("huge.exe");
    writeBytes(huge, {});
    std::filesystem::resize_file(huge, 512u << 20); // sparse
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = 256u << 20;
        ::setrlimit(RLIMIT_AS, &limit);
        SfxRequest made = request(SfxLayout::Dos);
        made.stub = huge;
        SfxResult result = writeSelfExtractor(made);
        ::_exit(result.code == kErrorNotEnoughMemory ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    expectEarlierOnly();
}

} // namespace
} // namespace kp::test
