#include <clocale>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "TCli.h"

int main(int argc, char** argv)
{
    // The white list is ordered in the user's collation; nothing else follows the locale.
    std::setlocale(LC_COLLATE, "");
    std::vector<std::string> args(argv + 1, argv + argc);
    std::error_code ec;
    std::string executable = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec)
        executable = std::filesystem::absolute(argv[0]).string();
    tarnwick::app::TCliStreams io{std::cin, std::cout, std::cerr};
    return tarnwick::app::RunCli(args, executable, io);
}
