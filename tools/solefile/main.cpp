// Writes the animation clip of the Compress page to the file named on the command line.
#include "SolefileFrames.h"

#include <cstdio>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_solefile OUTPUT.avi\n";
        return 2;
    }
    const std::vector<std::uint8_t> clip = kp::WriteAvi(kp::SolefileMovie());
    const std::string temporary = std::string(argv[1]) + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(clip.data()),
                  static_cast<std::streamsize>(clip.size()));
        if (!out.flush()) {
            std::cerr << "make_solefile: cannot write " << temporary << "\n";
            std::remove(temporary.c_str());
            return 1;
        }
    }
    // A build that stops half-way never leaves a cut-off clip under the real name.
    if (std::rename(temporary.c_str(), argv[1]) != 0) {
        std::cerr << "make_solefile: cannot write " << argv[1] << "\n";
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
