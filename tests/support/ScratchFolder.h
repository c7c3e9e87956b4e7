// A private folder under the system's temporary folder that removes itself.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kp::test {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kp-test-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) {
            throw std::runtime_error("mkdtemp failed");
        }
        root = name.data();
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    // The folder's path with a trailing separator, ready to have names appended.
    std::string path() const { return root + "/"; }
    std::string path(const std::string& relative) const { return root + "/" + relative; }

    // Writes a file, creating the folders on its way.
    std::string write(const std::string& relative, const std::string& content) const {
        std::filesystem::path file = path(relative);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out << content;
        return file.string();
    }

    std::string folder(const std::string& relative) const {
        std::filesystem::create_directories(path(relative));
        return path(relative) + "/";
    }

private:
    std::string root;
};

} // namespace kp::test
