#include <cstdio>
#include <string>

namespace {
std::string UsageText(const std::string& prog) {
    return "Usage:\n- Open archive: " + prog + " <*.vmra archive to open>\n- Compression: " + prog +
           " -c <*.las files to compress separated by spaces> <*.vmra archive destination>\n"
           "- Decompression: " + prog +
           " -d <*.las files to decompress separated by spaces> <*.vmra source archive>\n";
}
}  // namespace

int main(int argc, char** argv) {
    (void)argc;
    std::fputs(UsageText(argv[0]).c_str(), stderr);
    return 255;
}
