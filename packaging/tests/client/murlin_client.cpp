// A third-party C++ program on the installed Murlin and Quesmer packages
// (find_package): decodes a bit-stream text file like murlin_client.c and
// names the file the decoder library was loaded from.
#include <murlin.h>
#include <quesmer/daskel.h>
#include <quesmer/start_sequence.h>

#include <array>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    std::ifstream in(argc == 2 ? argv[1] : "");
    if (!in) {
        std::cerr << "usage: murlin_client_cxx BITS.txt\n";
        return 2;
    }
    // Linking the card client library through its imported target.
    const auto startSequence = &quesmer::sendRdsStartSequence;
    if (!startSequence) return 1;

    RDSInit();
    for (auto it = std::istreambuf_iterator<char>(in); it != std::istreambuf_iterator<char>(); ++it) {
        if ((RDSBitFrame(*it == '1', 0) & 0xF000) != 0) continue;
        std::cout << std::string(36, '-') << "\r\n";
        for (int n = 0; n < 4; ++n) std::cout << RDSDisplay(n) << "\r\n";
    }
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.find('/');
        if (slash != std::string::npos && line.find("/libmurlin.so") != std::string::npos) {
            std::cerr << "library: " << line.substr(slash) << "\n";
            return 0;
        }
    }
    return 1;
}
