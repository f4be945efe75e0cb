#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ProfileDirFixture.h"
#include "profile/PrivateProfile.h"
#include "profile/ProfileStore.h"

namespace {

using Entries = std::vector<std::pair<std::wstring, std::uint32_t>>;

Entries EntriesOf(const ProfileSection& section) { return Entries(section.begin(), section.end()); }

const std::wstring kSection = L"RTX3080TiZYL";

class ProfileStoreTest : public ProfileDirFixture {
protected:
    ProfileStore& Store() { return profiles.Get(); }
    fs::path File() const { return dir / "Profile.ini"; }
};

TEST_F(ProfileStoreTest, CreatedOnceWithThePathOfTheCurrentDirectory) {
    ProfileStore* first = &profiles.Get();
    EXPECT_EQ(&profiles.Get(), first);
    EXPECT_EQ(first->Path(), Wide(dir.string()) + L"/Profile.ini");

    profiles.Close();
    profiles.Close();  // a second release is harmless
    fs::create_directory(dir / "sub");
    fs::current_path(dir / "sub");
    EXPECT_EQ(Store().Path(), Wide((dir / "sub").string()) + L"/Profile.ini");
}

TEST_F(ProfileStoreTest, WrittenSectionReadsBackExactly) {
    ASSERT_TRUE(Store().WriteSection(kSection, L"AUTO=1\r\nNVVDD=200\r\n"));
    EXPECT_EQ(ReadBytes(File()), "[RTX3080TiZYL]\r\nAUTO=1\r\nNVVDD=200\r\n");

    ProfileSection section;
    ASSERT_TRUE(Store().ReadSection(kSection, section));
    EXPECT_EQ(EntriesOf(section), (Entries{{L"AUTO", 1}, {L"NVVDD", 200}}));
}

TEST_F(ProfileStoreTest, RewritingReplacesTheSectionAndKeepsTheOthers) {
    const std::string head = "; my settings\n[Other]\nKEY = value\n\n";
    const std::string tail = "[Last]\r\nX=1";
    WriteBytes(File(), head + tail);

    ASSERT_TRUE(Store().WriteSection(kSection, L"AUTO=0\r\nNVVDD=175\r\n"));
    EXPECT_EQ(ReadBytes(File()), head + tail + "\r\n[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=175\r\n");
    ASSERT_TRUE(Store().WriteSection(kSection, L"AUTO=1\r\n"));
    EXPECT_EQ(ReadBytes(File()), head + tail + "\r\n[RTX3080TiZYL]\r\nAUTO=1\r\n");

    ProfileSection section;
    ASSERT_TRUE(Store().ReadSection(kSection, section));
    EXPECT_EQ(EntriesOf(section), (Entries{{L"AUTO", 1}}));
    ASSERT_TRUE(Store().ReadSection(L"Other", section));
    EXPECT_EQ(EntriesOf(section), (Entries{{L"KEY", 0}}));
}

TEST_F(ProfileStoreTest, FailedReadAlwaysEmptiesTheMap) {
    ProfileSection section{{L"STALE", 7}};
    EXPECT_FALSE(Store().ReadSection(kSection, section));  // no file
    EXPECT_TRUE(section.empty());

    WriteBytes(File(), "[Other]\r\nA=1\r\n[RTX3080TiZYL]\r\n; nothing but a comment\r\n\r\n");
    section[L"STALE"] = 7;
    EXPECT_FALSE(Store().ReadSection(L"Missing", section));
    EXPECT_TRUE(section.empty());
    section[L"STALE"] = 7;
    EXPECT_FALSE(Store().ReadSection(kSection, section));
    EXPECT_TRUE(section.empty());
}

TEST_F(ProfileStoreTest, ChangingTheCurrentDirectoryDoesNotMoveTheFile) {
    ProfileStore& store = Store();
    fs::create_directory(dir / "elsewhere");
    fs::current_path(dir / "elsewhere");

    ASSERT_TRUE(store.WriteSection(kSection, L"AUTO=1\r\n"));
    EXPECT_TRUE(fs::exists(File()));
    EXPECT_FALSE(fs::exists(dir / "elsewhere" / "Profile.ini"));
    ProfileSection section;
    EXPECT_TRUE(store.ReadSection(kSection, section));
    EXPECT_EQ(&profiles.Get(), &store);
}

TEST_F(ProfileStoreTest, WriteFailsWhenTheDirectoryIsGone) {
    fs::create_directory(dir / "gone");
    fs::current_path(dir / "gone");
    ProfileStore& store = Store();
    fs::current_path(dir);
    fs::remove(dir / "gone");

    EXPECT_FALSE(store.WriteSection(kSection, L"AUTO=1\r\n"));
    EXPECT_FALSE(fs::exists(dir / "gone"));
    ProfileSection section{{L"STALE", 7}};
    EXPECT_FALSE(store.ReadSection(kSection, section));
    EXPECT_TRUE(section.empty());
}

TEST_F(ProfileStoreTest, WriteFailsWhenProfileIniIsADirectory) {
    fs::create_directory(File());
    EXPECT_FALSE(Store().WriteSection(kSection, L"AUTO=1\r\n"));
    EXPECT_TRUE(fs::is_directory(File()));
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini"}));
}

TEST_F(ProfileStoreTest, WithoutACurrentDirectoryNothingIsReadOrWritten) {
    fs::create_directory(dir / "gone");
    fs::current_path(dir / "gone");
    fs::remove(dir / "gone");

    ProfileStore& store = Store();
    EXPECT_EQ(store.Path(), L"");
    EXPECT_FALSE(store.WriteSection(kSection, L"AUTO=1\r\n"));
    ProfileSection section;
    EXPECT_FALSE(store.ReadSection(kSection, section));
}

TEST_F(ProfileStoreTest, Utf16FileIsReadAndRewritten) {
    const std::string mark = "\xFF\xFE";
    auto utf16 = [](const std::string& ascii) {
        std::string bytes;
        for (const char c : ascii) bytes += std::string{c, '\0'};
        return bytes;
    };
    WriteBytes(File(), mark + utf16("[Other]\r\nA=1\r\n[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=192\r\n"));

    ProfileSection section;
    ASSERT_TRUE(Store().ReadSection(kSection, section));
    EXPECT_EQ(EntriesOf(section), (Entries{{L"AUTO", 0}, {L"NVVDD", 192}}));

    ASSERT_TRUE(Store().WriteSection(kSection, L"AUTO=1\r\nNVVDD=200\r\n"));
    EXPECT_EQ(ReadBytes(File()), mark + utf16("[Other]\r\nA=1\r\n[RTX3080TiZYL]\r\nAUTO=1\r\nNVVDD=200\r\n"));
    ASSERT_TRUE(Store().ReadSection(kSection, section));
    EXPECT_EQ(EntriesOf(section), (Entries{{L"AUTO", 1}, {L"NVVDD", 200}}));
}

// The section's lines as the file holds them, the count the reader reports, and the map.
struct LinesCase {
    const char* name;
    std::string lines;
    std::size_t count;
    bool result;
    Entries entries;
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class ProfileLinesTest : public ProfileStoreTest, public ::testing::WithParamInterface<LinesCase> {};

TEST_P(ProfileLinesTest, ReadGivesTheMap) {
    const LinesCase& c = GetParam();
    WriteBytes(File(), "[Other]\r\nA=1\r\n[RTX3080TiZYL]\r\n" + c.lines + "[Next]\r\nB=2\r\n");

    EXPECT_EQ(storeFiles.ReadSection(kSection, Store().Path()).size(), c.count);
    ProfileSection section{{L"STALE", 7}};
    EXPECT_EQ(Store().ReadSection(kSection, section), c.result);
    EXPECT_EQ(EntriesOf(section), c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProfileLinesTest,
    ::testing::Values(
        LinesCase{"OneCharacter", "A\r\n", 2, false, {}},
        LinesCase{"EmptyValue", "A=\r\n", 3, true, {{L"A", 0}}},
        LinesCase{"NoEquals", "AB\r\n", 3, true, {{L"", 0}}},
        LinesCase{"FirstKeyWins", "NVVDD=10\r\nNVVDD=20\r\n", 18, true, {{L"NVVDD", 10}}},
        LinesCase{"DigitsThenText", "NVVDD=200mV\r\n", 12, true, {{L"NVVDD", 200}}},
        LinesCase{"NoDigits", "NVVDD=abc\r\n", 10, true, {{L"NVVDD", 0}}},
        LinesCase{"MinusOne", "NVVDD=-1\r\n", 9, true, {{L"NVVDD", 4294967295u}}},
        LinesCase{"JustTooLarge", "NVVDD=4294967296\r\n", 17, true, {{L"NVVDD", 4294967295u}}},
        LinesCase{"Largest", "NVVDD=4294967295\r\n", 17, true, {{L"NVVDD", 4294967295u}}},
        LinesCase{"NegativeLargest", "NVVDD=-4294967295\r\n", 18, true, {{L"NVVDD", 1}}},
        LinesCase{"NegativeTooLarge", "NVVDD=-99999999999\r\n", 19, true, {{L"NVVDD", 4294967295u}}},
        LinesCase{"ManyLeadingZeros", "NVVDD=000000000000000000042\r\n", 28, true, {{L"NVVDD", 42}}},
        LinesCase{"BlanksAndPlus", "NVVDD= \t+42\r\n", 10, true, {{L"NVVDD", 42}}},
        LinesCase{"TwoSigns", "NVVDD=+-1\r\n", 10, true, {{L"NVVDD", 0}}},
        LinesCase{"Hexadecimal", "NVVDD=0x1F\r\n", 11, true, {{L"NVVDD", 0}}},
        LinesCase{"NonAsciiDigit", "NVVDD=\xD9\xA3\r\n", 8, true, {{L"NVVDD", 0}}},
        LinesCase{"LowerCaseKey", "nvvdd=5\r\n", 8, true, {{L"nvvdd", 5}}},
        LinesCase{"BlankBeforeEquals", "NVVDD =5\r\n", 8, true, {{L"NVVDD", 5}}},
        LinesCase{"HandEditedLine", "  NVVDD = 175 \t\r\n", 10, true, {{L"NVVDD", 175}}},
        LinesCase{"SecondEqualsIsValue", "A=1=2\r\n", 6, true, {{L"A", 1}}},
        LinesCase{"CommentAndBlankLines", "; note\r\n\r\n   \r\nA=1\r\n", 4, true, {{L"A", 1}}},
        LinesCase{"CodeUnitOrder", "b=1\r\nB=2\r\nA=3\r\n\xC3\xA9=4\r\nZ=5\r\nAB=6\r\n", 25, true,
                  {{L"A", 3}, {L"AB", 6}, {L"B", 2}, {L"Z", 5}, {L"b", 1}, {L"\u00E9", 4}}}),
    [](const ::testing::TestParamInfo<LinesCase>& param) { return std::string(param.param.name); });

// A stand-in platform that records what the store hands it, for what a file cannot show: the
// Windows separator, and the closing NUL WritePrivateProfileSectionW needs.
class RecordingProfile final : public profile::PrivateProfile {
public:
    std::wstring CurrentDirectory() override { return directory; }
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override {
        readSection = section;
        readPath = path;
        return lines;
    }
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override {
        writtenSection = section;
        writtenData = data;
        writtenPath = path;
        return writeResult;
    }
    std::optional<std::string> FileBytes(const std::wstring&) override { return bytes; }
    wchar_t PathSeparator() const override { return L'\\'; }

    std::wstring directory;
    std::wstring lines;
    std::optional<std::string> bytes;
    bool writeResult = true;
    std::wstring readSection, readPath, writtenSection, writtenData, writtenPath;
};

class ProfileStorePortTest : public ::testing::Test {
protected:
    void TearDown() override { profiles.Close(); }

    RecordingProfile platform;
    LazyProfileStore profiles{platform};
};

TEST_F(ProfileStorePortTest, PathTakesOneSeparator) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Games\\Tools", L"C:\\Games\\Tools\\Profile.ini"},
        {L"C:\\", L"C:\\Profile.ini"},
    };
    for (const auto& [directory, path] : cases) {
        platform.directory = directory;
        EXPECT_EQ(profiles.Get().Path(), path);
        profiles.Close();
    }
}

TEST_F(ProfileStorePortTest, BodyGoesOutWithOneMoreNulAndTheResultComesBack) {
    platform.directory = L"C:\\Games";
    ProfileStore& store = profiles.Get();

    EXPECT_TRUE(store.WriteSection(kSection, L"AUTO=1\r\nNVVDD=200\r\n"));
    EXPECT_EQ(platform.writtenSection, kSection);
    EXPECT_EQ(platform.writtenData, std::wstring(L"AUTO=1\r\nNVVDD=200\r\n\0", 20));
    EXPECT_EQ(platform.writtenPath, L"C:\\Games\\Profile.ini");

    platform.writeResult = false;
    EXPECT_FALSE(store.WriteSection(kSection, L"AUTO=1\r\n"));
}

TEST_F(ProfileStorePortTest, ReadTakesLinesAsThePlatformGivesThem) {
    platform.directory = L"C:\\Games";
    ProfileStore& store = profiles.Get();
    ProfileSection section;

    platform.lines = std::wstring(L"A=1\0NVVDD=7\0", 12);
    EXPECT_TRUE(store.ReadSection(kSection, section));
    EXPECT_EQ(platform.readSection, kSection);
    EXPECT_EQ(platform.readPath, L"C:\\Games\\Profile.ini");
    EXPECT_EQ(EntriesOf(section), (Entries{{L"A", 1}, {L"NVVDD", 7}}));

    // A list cut short by the platform, its last line without a NUL.
    platform.lines = std::wstring(L"A=1\0B=2", 7);
    EXPECT_TRUE(store.ReadSection(kSection, section));
    EXPECT_EQ(EntriesOf(section), (Entries{{L"A", 1}, {L"B", 2}}));

    platform.lines = std::wstring(L"A\0", 2);
    EXPECT_FALSE(store.ReadSection(kSection, section));
    EXPECT_TRUE(section.empty());
}

TEST_F(ProfileStorePortTest, NoDirectoryMeansNoFile) {
    ProfileStore& store = profiles.Get();
    EXPECT_EQ(store.Path(), L"");
    platform.lines = std::wstring(L"A=1\0", 4);
    ProfileSection section;
    EXPECT_FALSE(store.ReadSection(kSection, section));
    EXPECT_FALSE(store.WriteSection(kSection, L"AUTO=1\r\n"));
    EXPECT_EQ(platform.readPath, L"");
    EXPECT_EQ(platform.writtenPath, L"");
}

}  // namespace
