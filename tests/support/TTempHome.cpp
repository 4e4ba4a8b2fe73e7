#include "TTempHome.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarnwick::test {

TTempHome::TTempHome(bool setAsTarnwickHome)
    : SetHome_(setAsTarnwickHome)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    Path_ = pattern;
    if (SetHome_)
        ::setenv("TARNWICK_HOME", Path_.c_str(), 1);
}

TTempHome::~TTempHome()
{
    if (SetHome_)
        ::unsetenv("TARNWICK_HOME");
    std::error_code ec;
    std::filesystem::permissions(Path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(Path_, ec);
}

std::string Fixture(const std::string& relativePath)
{
    const char* root = std::getenv("TARNWICK_TEST_FIXTURES");
    return std::string(root ? root : "tests/fixtures") + "/" + relativePath;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace tarnwick::test
