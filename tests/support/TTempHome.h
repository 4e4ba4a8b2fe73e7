#pragma once

#include <string>

namespace tarnwick::test {

// A fresh, empty folder for one test, removed with everything in it at the end. As a home it is
// also made the TARNWICK_HOME of the process, so the settings, data and cache of the code under
// test live inside it.
class TTempHome
{
public:
    explicit TTempHome(bool setAsTarnwickHome = true);
    ~TTempHome();
    TTempHome(const TTempHome&) = delete;
    TTempHome& operator=(const TTempHome&) = delete;

    const std::string& Path() const { return Path_; }
    std::string operator/(const std::string& name) const { return Path_ + "/" + name; }

private:
    std::string Path_;
    bool SetHome_;
};

// Path of a file below tests/fixtures.
std::string Fixture(const std::string& relativePath);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace tarnwick::test
