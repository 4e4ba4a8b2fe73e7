#pragma once

#include <string>
#include <vector>

namespace tarnwick::test {

struct TProcessResult
{
    int Status = -1; // exit status, or -1 when the process did not exit normally
    std::string Out;
    std::string Err;
};

// Runs a program to its end with the given arguments and standard input, and collects what it
// wrote. Extra environment entries are "NAME=value".
TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input = {}, const std::vector<std::string>& extraEnv = {});

} // namespace tarnwick::test
