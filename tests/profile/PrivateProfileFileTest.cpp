#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>

#include "ProfileDirFixture.h"
#include "profile/PrivateProfileFile.h"

namespace {

// Lines as the section reader hands them out: each NUL-terminated.
std::wstring Lines(std::initializer_list<std::wstring> lines) {
    std::wstring joined;
    for (const std::wstring& line : lines) {
        joined += line;
        joined.push_back(L'\0');
    }
    return joined;
}

// A body as the store hands it on: its text and one NUL.
std::wstring Data(const std::wstring& body) { return body + std::wstring(1, L'\0'); }

std::string Utf16Bytes(const std::u16string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

class PrivateProfileFileTest : public ProfileDirFixture {
protected:
    void SetUp() override {
        ProfileDirFixture::SetUp();
        file = dir / "Profile.ini";
        path = Wide(file.string());
    }

    std::wstring Read(const std::wstring& section) { return files.ReadSection(section, path); }
    bool Write(const std::wstring& section, const std::wstring& body) {
        return files.WriteSection(section, Data(body), path);
    }

    profile::PrivateProfileFile files;
    fs::path file;
    std::wstring path;
};

TEST_F(PrivateProfileFileTest, NothingToReadWithoutFileOrSection) {
    EXPECT_EQ(Read(L"S"), L"");
    WriteBytes(file, "[Other]\r\nA=1\r\n[S]\r\n; only a comment\r\n\r\n[T]\r\nB=2\r\n");
    EXPECT_EQ(Read(L"Missing"), L"");
    EXPECT_EQ(Read(L"S"), L"");
    EXPECT_EQ(files.ReadSection(L"Other", L""), L"");
}

TEST_F(PrivateProfileFileTest, ReadsTheLinesOfOneSection) {
    WriteBytes(file,
               "; top comment\r\nX=0\r\n"
               "[Other]\r\nA=9\r\n"
               "[S]\r\nAUTO=1\r\n\r\n  \t\r\n ; note\r\nNVVDD = 200 \nlower=5\r\n"
               "  [ next ]  ; trailing text\r\nB=2");
    EXPECT_EQ(Read(L"S"), Lines({L"AUTO=1", L"NVVDD=200", L"lower=5"}));
    EXPECT_EQ(Read(L"Other"), Lines({L"A=9"}));
    EXPECT_EQ(Read(L"NEXT"), Lines({L"B=2"}));  // no final line end, name in other case
    EXPECT_EQ(Read(L"s"), Read(L"S"));
}

// As Windows' own profile functions read the same files (measured under Wine).
TEST_F(PrivateProfileFileTest, ReadsAsTheWindowsFunctionsDo) {
    struct Case {
        const char* what;
        std::string file;
        std::wstring section;
        std::wstring lines;
    };
    const Case cases[] = {
        {"blanks around =", "[S]\r\nNVVDD = 175\r\n", L"S", Lines({L"NVVDD=175"})},
        {"tabs around =", "[S]\r\nNVVDD\t=\t175\r\n", L"S", Lines({L"NVVDD=175"})},
        {"blanks before the key", "[S]\r\n  \tNVVDD=175\r\n", L"S", Lines({L"NVVDD=175"})},
        {"blanks at the line's end", "[S]\r\nNVVDD=175 \t\r\n", L"S", Lines({L"NVVDD=175"})},
        {"blanks inside the value stay", "[S]\r\nA = 1 2 \r\n", L"S", Lines({L"A=1 2"})},
        {"a line without =", "[S]\r\n  AB  \r\n", L"S", Lines({L"AB"})},
        {"empty value", "[S]\r\nA =  \r\n", L"S", Lines({L"A="})},
        {"indented comment", "[S]\r\n  ; NVVDD=1\r\nA=1\r\n", L"S", Lines({L"A=1"})},
        {"lone CR line ends", "[S]\rAUTO=0\rNVVDD=175\r[T]\rB=2\r", L"S", Lines({L"AUTO=0", L"NVVDD=175"})},
        {"stray CR in CR LF", "[S]\r\nAUTO=0\r\r\nNVVDD=175\r\n", L"S", Lines({L"AUTO=0", L"NVVDD=175"})},
        {"CR inside a line", "[S]\r\nAUTO=0\rNVVDD=175\r\n", L"S", Lines({L"AUTO=0", L"NVVDD=175"})},
        {"header after a lone CR", "[T]\r\nB=2\r[S]\r\nA=1\r\n", L"S", Lines({L"A=1"})},
        {"name runs to the last ]", "[RTX3080TiZYL] [old]\r\nNVVDD=100\r\n[RTX3080TiZYL]\r\nNVVDD=175\r\n",
         L"RTX3080TiZYL", Lines({L"NVVDD=175"})},
        {"the longer name", "[RTX3080TiZYL] [old]\r\nNVVDD=100\r\n", L"RTX3080TiZYL] [old", Lines({L"NVVDD=100"})},
        {"blanks inside the brackets", "[ S ]  \r\nA=1\r\n", L"S", Lines({L"A=1"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(file, c.file);
        EXPECT_EQ(Read(c.section), c.lines);
    }
}

// Vertical tab, form feed and Ctrl-Z are blanks to the Windows functions as well; inside a value
// they stay, and a write elsewhere leaves them as they were.
TEST_F(PrivateProfileFileTest, ControlBlanksReadAsOnWindowsAndStayOnWrites) {
    struct Case {
        const char* what;
        std::string file;
        std::wstring lines;
    };
    const Case cases[] = {
        {"VT before the key", "[RTX3080TiZYL]\r\n\x0bNVVDD=150\r\n", Lines({L"NVVDD=150"})},
        {"FF before the key", "[RTX3080TiZYL]\r\n\x0cNVVDD=150\r\n", Lines({L"NVVDD=150"})},
        {"^Z before the key", "[RTX3080TiZYL]\r\n\x1aNVVDD=150\r\n", Lines({L"NVVDD=150"})},
        {"VT after the key", "[RTX3080TiZYL]\r\nNVVDD\x0b=150\r\n", Lines({L"NVVDD=150"})},
        {"all three around =", "[RTX3080TiZYL]\r\nNVVDD\x0c\x1a=\x0b \x1a" "150\r\n", Lines({L"NVVDD=150"})},
        {"at the line's end", "[RTX3080TiZYL]\r\nNVVDD=150\x0b\x0c\x1a\t\r\n", Lines({L"NVVDD=150"})},
        {"a line of them only", "[RTX3080TiZYL]\r\n\x0c\x0b\x1a\r\nAUTO=0\r\n", Lines({L"AUTO=0"})},
        {"before a comment", "[RTX3080TiZYL]\r\n\x0c; NVVDD=1\r\nAUTO=0\r\n", Lines({L"AUTO=0"})},
        {"FF before the header", "\x0c[RTX3080TiZYL]\r\nAUTO=0\r\n", Lines({L"AUTO=0"})},
        {"around the header", "\x1a\x0b[RTX3080TiZYL]\x0c\x1a\r\nAUTO=0\r\n", Lines({L"AUTO=0"})},
        {"inside the brackets", "[\x0bRTX3080TiZYL\x1a]\r\nAUTO=0\r\n", Lines({L"AUTO=0"})},
        {"the header ends the body before it", "[T]\r\nA=1\r\n\x0c[RTX3080TiZYL]\r\nAUTO=0\r\n", Lines({L"AUTO=0"})},
        {"a DOS end of file after the last line", "[RTX3080TiZYL]\r\nAUTO=0\r\n\x1a", Lines({L"AUTO=0"})},
        {"inside the value they stay", "[RTX3080TiZYL]\r\nNAME=a\x0b\x0c\x1a" "b\r\n",
         Lines({std::wstring(L"NAME=a\x0b\x0c\x1a" L"b")})},
        {"inside the key they stay", "[RTX3080TiZYL]\r\nNV\x0bVDD=1\r\n", Lines({std::wstring(L"NV\x0bVDD=1")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(file, c.file);
        EXPECT_EQ(Read(L"RTX3080TiZYL"), c.lines);
    }

    // Writes replace the body only: the control bytes around it stay where they were.
    struct Rewrite {
        const char* what;
        std::string before;
        std::wstring section;
        std::string after;
    };
    const std::string other = "[Other]\x0b\r\n\x0cNVVDD\x0b=\x1a" "150\x0c\r\n\x1a\r\n";
    const Rewrite rewrites[] = {
        {"another section before", other + "\x0c[RTX3080TiZYL]\x1a\r\nAUTO=0\r\n", L"RTX3080TiZYL",
         other + "\x0c[RTX3080TiZYL]\x1a\r\nAUTO=1\r\n"},
        {"another section after", "\x0c[RTX3080TiZYL]\r\nAUTO=0\r\n" + other, L"RTX3080TiZYL",
         "\x0c[RTX3080TiZYL]\r\nAUTO=1\r\n" + other},
        {"a new section after them", other, L"RTX3080TiZYL", other + "[RTX3080TiZYL]\r\nAUTO=1\r\n"},
        {"a DOS end of file stays", other + "[RTX3080TiZYL]\r\nAUTO=0\r\n\x1a", L"T",
         other + "[RTX3080TiZYL]\r\nAUTO=0\r\n\x1a\r\n[T]\r\nAUTO=1\r\n"},
    };
    for (const Rewrite& w : rewrites) {
        SCOPED_TRACE(w.what);
        WriteBytes(file, w.before);
        ASSERT_TRUE(Write(w.section, L"AUTO=1\r\n"));
        EXPECT_EQ(ReadBytes(file), w.after);
        EXPECT_EQ(Read(L"Other"), Lines({L"NVVDD=150"}));
    }
}

// Bytes outside the replaced body stay as they were, whatever ends their lines.
TEST_F(PrivateProfileFileTest, WritesKeepOtherLineEndsAndHeaders) {
    WriteBytes(file, "[S]\rA=1\r[T]\rB=2\r");
    ASSERT_TRUE(Write(L"S", L"A=2\r\n"));
    EXPECT_EQ(ReadBytes(file), "[S]\rA=2\r\n[T]\rB=2\r");

    WriteBytes(file, "[RTX3080TiZYL] [old]\r\nNVVDD=100\r\n");
    ASSERT_TRUE(Write(L"RTX3080TiZYL", L"NVVDD=175\r\n"));
    EXPECT_EQ(ReadBytes(file), "[RTX3080TiZYL] [old]\r\nNVVDD=100\r\n[RTX3080TiZYL]\r\nNVVDD=175\r\n");
}

TEST_F(PrivateProfileFileTest, FirstOfDuplicateSectionsIsReadAndReplaced) {
    WriteBytes(file, "[S]\r\nA=1\r\n[T]\r\nB=2\r\n[s]\r\nA=2\r\n");
    EXPECT_EQ(Read(L"S"), Lines({L"A=1"}));
    ASSERT_TRUE(Write(L"S", L"A=3\r\n"));
    EXPECT_EQ(ReadBytes(file), "[S]\r\nA=3\r\n[T]\r\nB=2\r\n[s]\r\nA=2\r\n");
}

TEST_F(PrivateProfileFileTest, HeaderWithoutClosingBracketIsAnOrdinaryLine) {
    WriteBytes(file, "[S]\r\nA=1\r\n[T\r\nB=2\r\n");
    EXPECT_EQ(Read(L"S"), Lines({L"A=1", L"[T", L"B=2"}));
    EXPECT_EQ(Read(L"T"), L"");
    ASSERT_TRUE(Write(L"T", L"C=3\r\n"));
    EXPECT_EQ(ReadBytes(file), "[S]\r\nA=1\r\n[T\r\nB=2\r\n[T]\r\nC=3\r\n");
}

TEST_F(PrivateProfileFileTest, DamagedBytesReadAsDefinedCharacters) {
    // A control byte, a NUL, a byte that is never UTF-8, a good two-byte sequence, a cut one.
    const char damaged[] = "[G]\r\nK=\x01\x00\xFF\xC3\xA9\xE2\x82\r\nL=1\r\n";
    WriteBytes(file, std::string(damaged, sizeof damaged - 1));
    EXPECT_EQ(Read(L"G"), Lines({std::wstring(L"K=\x01\xFFFD\xDCFF\xE9\xDCE2\xDC82"), L"L=1"}));
}

TEST_F(PrivateProfileFileTest, GarbageAroundASectionStaysAsItWas) {
    std::mt19937 random(20240611);
    std::string garbage;
    for (int i = 0; i < 8192; ++i) garbage.push_back(static_cast<char>(random() & 0xFF));
    const std::string before = "junk " + garbage + "\r\n";
    const std::string after = "[G]\r\n" + garbage;
    WriteBytes(file, before + "[S]\r\nA=1\r\n" + after);

    EXPECT_EQ(Read(L"S"), Lines({L"A=1"}));
    const std::wstring lines = Read(L"G");
    // Whatever the garbage holds, the lines are well-formed: none empty, each NUL-terminated.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L'\0');
    EXPECT_EQ(lines.find(std::wstring(2, L'\0')), std::wstring::npos);
    EXPECT_NE(lines[0], L'\0');

    ASSERT_TRUE(Write(L"S", L"A=2\r\n"));
    EXPECT_EQ(ReadBytes(file), before + "[S]\r\nA=2\r\n" + after);
}

TEST_F(PrivateProfileFileTest, MegabyteLineIsReadWhole) {
    const std::string digits(1 << 20, '7');
    WriteBytes(file, "[S]\r\nK=" + digits + "\r\nB=1\r\n");
    EXPECT_EQ(Read(L"S"), Lines({L"K=" + std::wstring(digits.begin(), digits.end()), L"B=1"}));
    ASSERT_TRUE(Write(L"T", L"C=1\r\n"));
    EXPECT_EQ(ReadBytes(file), "[S]\r\nK=" + digits + "\r\nB=1\r\n[T]\r\nC=1\r\n");
}

TEST_F(PrivateProfileFileTest, NewFileIsPlainTextWithCrLf) {
    ASSERT_TRUE(Write(L"RTX3080TiZYL", L"AUTO=1\r\nNVVDD=200\r\n"));
    EXPECT_EQ(ReadBytes(file), "[RTX3080TiZYL]\r\nAUTO=1\r\nNVVDD=200\r\n");
    EXPECT_EQ(Read(L"RTX3080TiZYL"), Lines({L"AUTO=1", L"NVVDD=200"}));
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini"}));
}

TEST_F(PrivateProfileFileTest, ReplacingTouchesNoByteOutsideTheBody) {
    const std::string head = "; keep me\n[A]\nX = 1\n\n[S]\r\n";
    const std::string tail = "[B]\r\nY=2";
    WriteBytes(file, head + "OLD=1\r\nOLD=2\r\n\r\n" + tail);

    ASSERT_TRUE(Write(L"S", L"N=1\r\n"));
    EXPECT_EQ(ReadBytes(file), head + "N=1\r\n" + tail);
    ASSERT_TRUE(Write(L"C", L"Z=3\r\n"));
    EXPECT_EQ(ReadBytes(file), head + "N=1\r\n" + tail + "\r\n[C]\r\nZ=3\r\n");
    ASSERT_TRUE(Write(L"s", L"N=2\r\n"));
    EXPECT_EQ(ReadBytes(file), head + "N=2\r\n" + tail + "\r\n[C]\r\nZ=3\r\n");
}

TEST_F(PrivateProfileFileTest, EveryStringEndsItsLine) {
    struct Case {
        std::string before;
        std::wstring data;
        std::string after;
    };
    const Case cases[] = {
        {"", Lines({L"A=1", L"B=2"}), "[S]\r\nA=1\r\nB=2\r\n"},
        {"", Data(L"A=1"), "[S]\r\nA=1\r\n"},
        {"", Data(L"A=1\r"), "[S]\r\nA=1\r\n"},
        {"", Data(L"A=1\nB=2"), "[S]\r\nA=1\nB=2\r\n"},
        {"", Data(L""), "[S]\r\n"},
        {"[S]", Data(L"A=1\r\n"), "[S]\r\nA=1\r\n"},
        {"[T]\r\nX=1\r\n[S]", Data(L"A=1\r\n"), "[T]\r\nX=1\r\n[S]\r\nA=1\r\n"},
        {"[S]\r\nA=1\r\n[T]", Data(L""), "[S]\r\n[T]"},
        {"[T]\r\nX=1", Data(L"A=1\r\n"), "[T]\r\nX=1\r\n[S]\r\nA=1\r\n"},
        {"[T]\r\nX=1\r", Data(L"A=1\r\n"), "[T]\r\nX=1\r[S]\r\nA=1\r\n"},  // a lone CR ends a line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before + " -> " + c.after);
        WriteBytes(file, c.before);
        ASSERT_TRUE(files.WriteSection(L"S", c.data, path));
        EXPECT_EQ(ReadBytes(file), c.after);
    }
}

TEST_F(PrivateProfileFileTest, Utf16FilesAreReadAndRewrittenInTheirOwnEncoding) {
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big endian" : "little endian");
        const std::u16string head = u"[Other]\r\nName=Grüße\r\nFace=\U0001F600\r\n[RTX3080TiZYL]\r\n";
        WriteBytes(file, Utf16Bytes(head + u"AUTO=0\r\n\r\n[Last]\r\nX=1", bigEndian));

        EXPECT_EQ(Read(L"Other"), Lines({L"Name=Grüße", L"Face=\U0001F600"}));
        EXPECT_EQ(Read(L"rtx3080tizyl"), Lines({L"AUTO=0"}));

        ASSERT_TRUE(Write(L"RTX3080TiZYL", L"AUTO=1\r\nNVVDD=200\r\n"));
        ASSERT_TRUE(Write(L"New", L"Ä=1\r\n"));
        EXPECT_EQ(ReadBytes(file),
                  Utf16Bytes(head + u"AUTO=1\r\nNVVDD=200\r\n[Last]\r\nX=1\r\n[New]\r\nÄ=1\r\n", bigEndian));
        EXPECT_EQ(Read(L"RTX3080TiZYL"), Lines({L"AUTO=1", L"NVVDD=200"}));
    }
}

TEST_F(PrivateProfileFileTest, Utf16FileWithADanglingByteIsReadButNotWritten) {
    const std::string bytes = Utf16Bytes(u"[S]\r\nA=1\r\n", false) + "\x42";
    WriteBytes(file, bytes);
    EXPECT_EQ(Read(L"S"), Lines({L"A=1"}));
    EXPECT_FALSE(Write(L"S", L"A=2\r\n"));
    EXPECT_EQ(ReadBytes(file), bytes);
}

TEST_F(PrivateProfileFileTest, Utf8MarkIsKeptAndTextDecoded) {
    WriteBytes(file, "\xEF\xBB\xBF[S]\r\nName=Gr\xC3\xBC\xC3\x9F" "e\r\n");
    EXPECT_EQ(Read(L"S"), Lines({L"Name=Grüße"}));
    ASSERT_TRUE(Write(L"S", L"Name=Grüße\r\nA=1\r\n"));
    EXPECT_EQ(ReadBytes(file), "\xEF\xBB\xBF[S]\r\nName=Gr\xC3\xBC\xC3\x9F" "e\r\nA=1\r\n");
}

TEST_F(PrivateProfileFileTest, NamesAHeaderCannotHoldAreRefused) {
    WriteBytes(file, "[S]\r\nA=1\r\n");
    for (const std::wstring& name : {std::wstring(L"a]b"), std::wstring(L"a\r\nb"), std::wstring(L" S"),
                                     std::wstring(L"S\t"), std::wstring(L"\x0bS"), std::wstring(L"S\x1a"),
                                     std::wstring(L"a\0b", 3)}) {
        EXPECT_FALSE(Write(name, L"B=2\r\n"));
    }
    EXPECT_EQ(ReadBytes(file), "[S]\r\nA=1\r\n");
    EXPECT_FALSE(files.WriteSection(L"S", Data(L"B=2\r\n"), L""));
}

TEST_F(PrivateProfileFileTest, WriteFailsWhenProfileIniIsADirectory) {
    fs::create_directory(file);
    WriteBytes(file / "inside", "x");
    EXPECT_FALSE(Write(L"S", L"A=1\r\n"));
    EXPECT_EQ(Read(L"S"), L"");
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(ReadBytes(file / "inside"), "x");
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini"}));
}

TEST_F(PrivateProfileFileTest, WriteFailsWhenTheDirectoryIsMissing) {
    const fs::path gone = dir / "gone" / "Profile.ini";
    EXPECT_FALSE(files.WriteSection(L"S", Data(L"A=1\r\n"), Wide(gone.string())));
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

// The size limit makes the write fail part-way as a full disk would, even for root.
TEST_F(PrivateProfileFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
    const std::string old = "[S]\r\nA=1\r\n[T]\r\nB=2\r\n";
    WriteBytes(file, old);
    const std::wstring big = L"K=" + std::wstring(100000, L'1') + L"\r\n";

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = Write(L"S", big);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(file), old);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini"}));
    ASSERT_TRUE(Write(L"S", big));  // the same write goes through once there is room
    EXPECT_EQ(Read(L"S"), Lines({big.substr(0, big.size() - 2)}));
}

TEST_F(PrivateProfileFileTest, WriteKeepsPermissionsAndLinks) {
    fs::create_directory(dir / "real");
    const fs::path target = dir / "real" / "Profile.ini";
    WriteBytes(target, "[S]\r\nA=1\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(target, file);

    ASSERT_TRUE(Write(L"S", L"A=2\r\n"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_EQ(ReadBytes(target), "[S]\r\nA=2\r\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(dir / "real"), (std::set<std::string>{"Profile.ini"}));
}

TEST_F(PrivateProfileFileTest, LongAndNonAsciiDirectoriesAreUsedWhole) {
    const std::string part(60, 'd');
    const fs::path deep = dir / part / part / part / part / part / "Grüße";
    fs::create_directories(deep);
    fs::current_path(deep);

    const std::wstring wpart(part.begin(), part.end());
    const std::wstring expected =
        Wide(dir.string()) + L"/" + wpart + L"/" + wpart + L"/" + wpart + L"/" + wpart + L"/" + wpart + L"/Grüße";
    ASSERT_GT(expected.size(), 259u);
    EXPECT_EQ(files.CurrentDirectory(), expected);
    EXPECT_EQ(files.PathSeparator(), L'/');

    const std::wstring wide = expected + L"/Profile.ini";
    ASSERT_TRUE(files.WriteSection(L"S", Data(L"A=1\r\n"), wide));
    EXPECT_EQ(ReadBytes(deep / "Profile.ini"), "[S]\r\nA=1\r\n");
    EXPECT_EQ(files.ReadSection(L"S", wide), Lines({L"A=1"}));
}

}  // namespace
