// The version HalvornController.exe shows in its file properties, read back under Wine the way
// Explorer reads it, against the version and copyright line the build sets in CMake.
#include "WineTest.h"

namespace {

using wine::DriverRun;

class Win32VersionResource : public wine::WineTest {};

TEST_F(Win32VersionResource, FilePropertiesShowTheProductAndTheBuildsVersion) {
    const DriverRun run = Drive({"version-info", WindowsPath(ProgramPath())});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    const std::string version = std::string(HALVORN_EXPECTED_VERSION) + ".0";
    EXPECT_EQ(run.Answer("version-info fixed"), version + " " + version) << run.Transcript();
    const struct {
        const char* name;
        std::string value;
    } strings[] = {
        {"ProductName", "RTX Halvorn Controller"},
        {"FileDescription", "RTX Halvorn Controller"},
        {"FileVersion", version},
        {"ProductVersion", version},
        {"OriginalFilename", "HalvornController.exe"},
        {"LegalCopyright", HALVORN_EXPECTED_COPYRIGHT},
    };
    for (const auto& s : strings)
        EXPECT_EQ(run.Answer(std::string("version-info ") + s.name), s.value) << run.Transcript();
}

}  // namespace
