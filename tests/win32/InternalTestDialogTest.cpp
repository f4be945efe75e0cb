// The Internal Test dialog of the Windows program under Wine: only with internalTest, and its
// Read and Write reach the selected board's bus. Entry 1 of the default machine is the
// MCU-driven RTX 3080 Ti, GPU 0 of the scenario; the MCU's register 0x1C reads 02 (the count
// byte), then the NVVDD and MSVDD switching frequencies, 04 04 at power-on.
#include "WineTest.h"

namespace {

using wine::DriverRun;
using Strings = std::vector<std::string>;

constexpr int kMcuGpu = 0;

class Win32InternalTest : public wine::WineTest {
protected:
    DriverRun InDialog(const Strings& commands) {
        Strings all = {"wait-dialog", "Internal Test", "10000"};
        all.insert(all.end(), commands.begin(), commands.end());
        DriverRun run = Drive(all);
        EXPECT_TRUE(run.ok()) << run.Transcript();
        return run;
    }
    std::vector<std::string> Lines(const std::vector<wine::Transfer>& transfers) {
        std::vector<std::string> lines;
        for (const wine::Transfer& t : transfers)
            lines.push_back(std::string(1, t.kind) + " gpu" + std::to_string(t.gpu) + " " + t.rest);
        return lines;
    }
};

// Everything here is typed and clicked with real keys and mouse buttons. Every key's handler
// copies the fields back into the dialog; the keys after it must still land behind the others.
TEST_F(Win32InternalTest, TypedFieldsReachTheSelectedBoardsBus) {
    const pid_t program = StartProgram({"internalTest"});
    DriverRun run = Drive({"wait-main", "20000", "visible", "1020", "mouse-click", "1012", "key", "down", "sel", "1012",
                           "mouse-click", "1020", "wait-dialog", "Internal Test", "10000", "use-main",
                           "window-enabled"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("visible 1020"), "1");
    EXPECT_EQ(run.Answer("sel 1012"), "1");
    EXPECT_EQ(run.Answer("window-enabled"), "0") << "the controller window waits while the dialog is open";

    // Fresh dialog: "0" everywhere, the address selected, nothing validated yet, so Read does nothing.
    MarkLog();
    run = InDialog({"text", "1021", "text", "1022", "text", "1033", "focus", "caret", "1021", "mouse-click", "1024",
                    "text", "1029"});
    EXPECT_EQ(run.Answer("text 1021"), "0");
    EXPECT_EQ(run.Answer("text 1022"), "0");
    EXPECT_EQ(run.Answer("text 1033"), "0");
    EXPECT_EQ(run.Answer("focus"), "1021");
    EXPECT_EQ(run.Answer("caret 1021"), "0 1");
    EXPECT_EQ(run.Answer("text 1029"), "");
    EXPECT_TRUE(TransfersSinceMark().empty());

    // Word access, then Tab round to the address and through the three hex fields.
    run = InDialog({"mouse-click", "1038", "check", "1038", "key", "tab", "focus", "type", "5A", "key", "tab", "type",
                    "1C", "key", "tab", "type", "1234", "text", "1021", "text", "1022", "text", "1023", "text",
                    "1030", "text", "1031", "text", "1032", "caret", "1023", "mouse-click", "1024", "text", "1029",
                    "text", "1023"});
    EXPECT_EQ(run.Answer("check 1038"), "1");
    EXPECT_EQ(run.Answer("focus"), "1021");
    EXPECT_EQ(run.lines.at(2), "text 1021 5A");
    EXPECT_EQ(run.lines.at(3), "text 1022 1C");
    EXPECT_EQ(run.lines.at(4), "text 1023 1234");
    EXPECT_EQ(run.Answer("text 1030"), "5Ah");
    EXPECT_EQ(run.Answer("text 1031"), "1Ch");
    EXPECT_EQ(run.Answer("text 1032"), "1234h");
    EXPECT_EQ(run.Answer("caret 1023"), "4 4") << "the caret stays behind the typed text";
    EXPECT_EQ(run.Answer("text 1029"), "OK");
    // 02 04 at power-on, least significant byte first.
    EXPECT_EQ(run.lines.at(10), "text 1023 402");
    EXPECT_EQ(Lines(TransfersSinceMark()), Strings{"R gpu0 p0 5A:1C [02 04] ok"});

    // A key typed at the end of the address makes it out of range and stops Read; Backspace mends it.
    MarkLog();
    run = InDialog({"mouse-click", "1021", "key", "end", "type", "0", "text", "1021", "text", "1030", "mouse-click",
                    "1024", "text", "1029", "mouse-click", "1021", "key", "end", "key", "backspace", "text", "1030"});
    EXPECT_EQ(run.Answer("text 1021"), "5A0");
    EXPECT_EQ(run.lines.at(1), "text 1030 invalid");
    EXPECT_EQ(run.Answer("text 1029"), "");
    EXPECT_EQ(run.lines.at(3), "text 1030 5Ah");
    EXPECT_TRUE(TransfersSinceMark().empty());

    // A word write of 0x0501, least significant byte first: NVVDD frequency 5 (500 kHz).
    run = InDialog({"key", "tab", "type", "13", "key", "tab", "type", "501", "text", "1032", "mouse-click", "1025",
                    "text", "1029"});
    EXPECT_EQ(run.Answer("text 1032"), "501h");
    EXPECT_EQ(run.Answer("text 1029"), "OK");

    // A word read on port 1, most significant byte first: 02 05 shows as 205.
    run = InDialog({"mouse-click", "1033", "key", "end", "key", "backspace", "type", "1", "mouse-click", "1037",
                    "mouse-click", "1022", "key", "end", "key", "backspace", "2", "type", "1C", "mouse-click", "1024",
                    "text", "1029", "text", "1023", "text", "1032"});
    EXPECT_EQ(run.Answer("text 1029"), "OK");
    EXPECT_EQ(run.Answer("text 1023"), "205");
    EXPECT_EQ(run.Answer("text 1032"), "205h");

    EXPECT_EQ(Lines(TransfersSinceMark()), (Strings{"W gpu0 p0 5A:13 [01 05] ok", "R gpu0 p1 5A:1C [02 05] ok"}));

    // Enter leaves the dialog open; Esc closes it and gives the controller window back.
    run = InDialog({"key", "enter", "windows", "key", "esc", "wait-gone", "10000", "use-main", "window-enabled",
                    "mouse-click", "1012", "key", "up", "key", "down", "text", "1019"});
    EXPECT_EQ(run.Answer("windows"), "1 1 0");
    EXPECT_EQ(run.Answer("window-enabled"), "1");
    EXPECT_EQ(run.Answer("text 1019"), "500 kHz") << "the raw write reached the board";
    CloseProgram(program);
}

TEST_F(Win32InternalTest, PortBeyond255IsRefusedWithAMessageAndTheFieldSelected) {
    const pid_t program = StartProgram({"internalTest"});
    DriverRun run = Drive({"wait-main", "20000", "mouse-click", "1020"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    run = InDialog({"mouse-click", "1033", "key", "end", "key", "backspace", "type", "300", "mouse-click", "1038",
                    "wait-message", "10000", "key", "enter", "wait-gone", "10000", "wait-dialog", "Internal Test",
                    "10000", "focus", "text", "1033", "caret", "1033", "key", "esc", "wait-gone", "10000"});
    const std::string message = run.Answer("message");
    EXPECT_TRUE(message == "HalvornController|Enter an integer between 0 and 255.|exclamation" ||
                message == "HalvornController|Enter an integer between 0 and 255.|icon")
        << run.Transcript();
    EXPECT_EQ(run.Answer("focus"), "1033");
    // The copy back put the last port taken over the selected text, the caret at the start.
    EXPECT_EQ(run.Answer("text 1033"), "0");
    EXPECT_EQ(run.Answer("caret 1033"), "0 0");
    CloseProgram(program);
}

// How the Windows command line reaches the program: only a first non-switch argument that is
// exactly internalTest shows the Test button.
TEST_F(Win32InternalTest, OnlyAFirstPlainArgumentOfExactlyInternalTestShowsTheTestButton) {
    const struct {
        std::vector<std::string> arguments;
        const char* visible;
    } cases[] = {
        {{"InternalTest"}, "0"},
        {{"/internalTest"}, "0"},
        {{"-switch", "internalTest"}, "1"},
        {{"profile name", "internalTest"}, "0"},
    };
    for (const auto& c : cases) {
        const pid_t program = StartProgram(c.arguments);
        const DriverRun run = Drive({"wait-main", "20000", "visible", "1020"});
        EXPECT_TRUE(run.ok()) << run.Transcript();
        EXPECT_EQ(run.Answer("visible 1020"), c.visible) << c.arguments.front();
        CloseProgram(program);
    }
}

}  // namespace
