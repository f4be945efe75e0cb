#pragma once
// A fresh temporary folder for one test, removed with everything in it afterwards. Entered, it is
// the current directory (where Profile.ini is looked for) until it goes.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class ScratchDirectory {
public:
    // Empty Path() when no folder could be made.
    explicit ScratchDirectory(const std::string& name) {
        std::string pattern = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // The folder becomes the current directory; the one before comes back when it goes.
    void Enter() {
        if (previous_.empty()) previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};
