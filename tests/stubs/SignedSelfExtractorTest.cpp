// Self-extractors signed with Authenticode as a publisher signs them (osslsigncode,
// a throw-away certificate made by openssl), then run under Wine; and a stub signed
// before its resources are written, whose signature must not survive the update.
#include "CabinetCheck.h"
#include "WineTest.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace kp::test {

namespace {

// The certificate table of a PE32 image (data directory 4: a file offset and a size),
// read from the raw headers as Windows' loader reads them.
struct CertificateTable {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

std::uint32_t u32At(const std::string& bytes, std::size_t at) {
    if (at + 4 > bytes.size()) {
        ADD_FAILURE() << "the image ends before offset " << at;
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

CertificateTable certificateTable(const std::string& image) {
    const std::size_t optionalHeader = u32At(image, 0x3C) + 24;
    EXPECT_EQ(u32At(image, optionalHeader) & 0xFFFF, 0x10Bu) << "not a PE32 image";
    const std::size_t entry = optionalHeader + 96 + 8 * 4;
    return {u32At(image, entry), u32At(image, entry + 4)};
}

class SignedSelfExtractorTest : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        CommandRun made = runCommand(std::string(OPENSSL_PATH) +
                                     " req -x509 -newkey rsa:2048 -nodes -days 2"
                                     " -subj '/CN=Korvath Pellix test' -keyout " +
                                     shellQuoted(key()) + " -out " + shellQuoted(certificate()));
        ASSERT_EQ(made.exitCode, 0) << made.output;
        scratch.write("tree/readme.txt", "A signed self-extractor.\r\n");
        scratch.write("tree/empty", "");
        scratch.write("tree/sub/folder/random.bin", randomBytes(300000, 20));
        scratch.write("tree/Gr\xC3\xBC\xC3\x9F"
                      "e.txt",
                      "non-ASCII name\n");
        std::string text;
        for (int i = 0; text.size() < 200000; ++i) {
            text += "line " + std::to_string(i) + "\n";
        }
        scratch.write("tree/sub/text.txt", text);
    }

    std::string key() const { return scratch.path("key.pem"); }
    std::string certificate() const { return scratch.path("certificate.pem"); }

    CommandRun kcab(const std::string& arguments) {
        return runCommand(std::string(KCAB_PATH) + " -q -r " + arguments + " " +
                          shellQuoted(scratch.path("tree")));
    }

    CommandRun sign(const std::string& in, const std::string& out) {
        return runCommand(std::string(OSSLSIGNCODE_PATH) + " sign -certs " +
                          shellQuoted(certificate()) + " -key " + shellQuoted(key()) +
                          " -n 'Korvath Pellix test' -in " + shellQuoted(in) + " -out " +
                          shellQuoted(out));
    }

    CommandRun verify(const std::string& exe) {
        return runCommand(std::string(OSSLSIGNCODE_PATH) + " verify -CAfile " +
                          shellQuoted(certificate()) + " -in " + shellQuoted(exe));
    }

    // Unpacks `exe` without a window and compares every file with the tree it was made of.
    void expectUnpacksTheTree(const std::string& exe, const std::string& into) {
        CommandRun run = runUnattended(exe, scratch.path(into));
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(readTree(scratch.path(into)), readTree(scratch.path("tree")))
            << exe << " did not give back every file as it went in";
    }
};

} // namespace

TEST_F(SignedSelfExtractorTest, ASignedSelfExtractorVerifiesAndUnpacksEveryFile) {
    std::string exe = scratch.path("setup.exe");
    std::string signedExe = scratch.path("setup-signed.exe");
    CommandRun made = kcab("--sfx " + shellQuoted(exe));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    CommandRun signing = sign(exe, signedExe);
    ASSERT_EQ(signing.exitCode, 0) << signing.output;

    CertificateTable table = certificateTable(readFileBytes(signedExe));
    EXPECT_NE(table.size, 0u) << "the signed program carries no certificate table";
    CommandRun verified = verify(signedExe);
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    EXPECT_NE(verified.output.find("Signature verification: ok"), std::string::npos)
        << verified.output;

    // The cabinet is a resource inside the signed image, so signing must not have
    // moved or cut it.
    expectUnpacksTheTree(signedExe, "unpacked");
}

TEST_F(SignedSelfExtractorTest, WritingResourcesIntoASignedStubDropsItsSignature) {
    std::string signedStub = scratch.path("kstub16-signed.exe");
    CommandRun signing = sign(std::string(STUB_FOLDER) + "kstub16.exe", signedStub);
    ASSERT_EQ(signing.exitCode, 0) << signing.output;
    std::string stubBytes = readFileBytes(signedStub);
    CertificateTable stubTable = certificateTable(stubBytes);
    ASSERT_NE(stubTable.size, 0u);
    ASSERT_LE(std::uint64_t{stubTable.offset} + stubTable.size, stubBytes.size());
    // The PKCS#7 blob, behind the table's 8-byte WIN_CERTIFICATE header.
    std::string signature = stubBytes.substr(stubTable.offset + 8, stubTable.size - 8);

    std::string exe = scratch.path("setup.exe");
    CommandRun made = kcab("--stub " + shellQuoted(signedStub) + " --sfx " + shellQuoted(exe));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    std::string exeBytes = readFileBytes(exe);
    CertificateTable table = certificateTable(exeBytes);
    EXPECT_EQ(table.offset, 0u) << "the certificate table still points into the file";
    EXPECT_EQ(table.size, 0u);
    EXPECT_EQ(exeBytes.find(signature), std::string::npos)
        << "the old signature's bytes are still in the self-extractor";
    // No signature at all, rather than one that no longer matches its image.
    CommandRun verified = verify(exe);
    EXPECT_NE(verified.exitCode, 0) << verified.output;
    EXPECT_NE(verified.output.find("No signature found"), std::string::npos) << verified.output;
    EXPECT_EQ(verified.output.find("MISMATCH"), std::string::npos)
        << "the image checksum does not match the image:\n"
        << verified.output;
    expectUnpacksTheTree(exe, "unpacked");

    // What comes out is a clean image to sign in turn.
    std::string resigned = scratch.path("setup-signed.exe");
    signing = sign(exe, resigned);
    ASSERT_EQ(signing.exitCode, 0) << signing.output;
    verified = verify(resigned);
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    expectUnpacksTheTree(resigned, "unpacked-signed");
}

} // namespace kp::test
