// A fresh directory for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include <stdlib.h>

class TTempDir {
public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelloquin-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        fpath = pattern;
    }
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::permissions(fpath, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(fpath, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return fpath; }
    std::string File(const std::string& name) const { return fpath + "/" + name; }

private:
    std::string fpath;
};
