#pragma once

#include <algorithm>
#include <cctype>
#include <string>

// Start-up's choice between the window and the command line: the window
// opens for no argument, or for exactly one argument whose extension (the
// text after its last ".") is "vmra" in any letter case. Plain C++, so the
// build without a window makes the same choice.
inline bool IsWindowCommandLine(int argc, const char* const* argv) {
    if (argc <= 1) return true;
    if (argc != 2 || !argv[1]) return false;
    const std::string arg = argv[1];
    const std::size_t dot = arg.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = arg.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == "vmra";
}
