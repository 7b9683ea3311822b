#include "tests/support/Files.h"

#include <fstream>
#include <sstream>

std::string ReadWholeFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
