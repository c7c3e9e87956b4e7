// A tree with every kind of entry a walk meets (hidden files and folders, a link to
// a file and one back to the top, a FIFO, a name beyond ASCII), for a builder writing
// scratch/out.cab.
#pragma once

#include "BuilderFixture.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace kp::test {

inline const std::string kUtf8Name = "\xc3\xa9t\xc3\xa9.txt"; // "été.txt"

class WalkedTreeFixture : public BuilderFixture {
protected:
    void SetUp() override {
        BuilderFixture::SetUp();
        base = scratch.folder("base");
        scratch.write("base/a.txt", "A");
        scratch.write("base/.dot.txt", "DOT");
        scratch.write("base/" + kUtf8Name, "UTF");
        scratch.write("base/sub/b.txt", "B");
        scratch.write("base/sub/.x", "X");
        scratch.write("base/sub/deep/c.txt", "C");
        scratch.write("base/.hidden/h.txt", "H");
        ASSERT_EQ(::symlink(base.c_str(), scratch.path("base/loop").c_str()), 0);
        ASSERT_EQ(::symlink(scratch.path("base/a.txt").c_str(), scratch.path("base/alias").c_str()),
                  0);
        ASSERT_EQ(::mkfifo(scratch.path("base/pipe").c_str(), 0600), 0);
    }

    // Runs the builder and returns stored name -> contents, in cabinet order.
    std::vector<std::pair<std::string, std::string>> build() {
        cab.BuildCabinet();
        std::vector<std::pair<std::string, std::string>> stored;
        for (const CabinetFile& file : readCabinet(cabPath)) {
            stored.emplace_back(file.name, file.data);
        }
        return stored;
    }

    using Stored = std::vector<std::pair<std::string, std::string>>;

    // The base folder as stored with full paths: no leading '/', backslashes.
    std::string fullBase() const {
        std::string stored = base.substr(1);
        std::replace(stored.begin(), stored.end(), '/', '\\');
        return stored;
    }

    std::string base;
};

} // namespace kp::test
