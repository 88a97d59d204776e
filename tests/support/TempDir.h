// A real temporary folder for a test, removed with everything in it when the
// test ends, and small helpers to fill it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace velk::testing {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-test-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (!made) throw std::runtime_error("mkdtemp failed");
        path_ = made;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    // Writes a file (creating its folders) and returns its full path.
    std::string file(const std::string& relative, const std::string& content = "") const {
        std::filesystem::path full = path_ / relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream out(full, std::ios::binary);
        out << content;
        return full.string();
    }
    std::string folder(const std::string& relative) const {
        std::filesystem::path full = path_ / relative;
        std::filesystem::create_directories(full);
        return full.string();
    }

private:
    std::filesystem::path path_;
};

}  // namespace velk::testing
