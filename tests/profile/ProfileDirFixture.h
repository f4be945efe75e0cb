#pragma once
// Each test in a fresh directory of its own, made the current directory, and the store on files,
// made when first asked for; afterwards the old current directory is back, the store closed and
// the directory gone.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"

namespace fs = std::filesystem;

class ProfileDirFixture : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        std::string pattern = (fs::temp_directory_path() / "halvorn-profile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::current_path(dir);
    }

    void TearDown() override {
        profiles.Close();
        std::error_code error;
        fs::current_path(previous_, error);
        fs::remove_all(dir, error);
    }

    fs::path dir;
    profile::PrivateProfileFile storeFiles;
    LazyProfileStore profiles{storeFiles};

private:
    fs::path previous_;
};

// The temporary directories are ASCII; the bytes widen one for one.
inline std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

inline std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << file;
}

// Names in a directory, to show that no temporary file was left behind.
inline std::set<std::string> Names(const fs::path& directory) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}
