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

TEST_F(Win32InternalTest, ReadAndWriteReachTheSelectedBoardsBus) {
    const pid_t program = StartProgram({"internalTest"});
    DriverRun run = Drive({"wait-main", "20000", "visible", "1020", "select", "1012", "1", "post-click", "1020",
                           "wait-dialog", "Internal Test", "10000", "use-main", "window-enabled"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("visible 1020"), "1");
    EXPECT_EQ(run.Answer("window-enabled"), "0") << "the controller window waits while the dialog is open";

    // Fresh dialog: "0" everywhere, nothing validated yet, so Read does nothing.
    MarkLog();
    run = InDialog({"text", "1021", "text", "1022", "text", "1033", "focus", "click", "1024", "text", "1029"});
    EXPECT_EQ(run.Answer("text 1021"), "0");
    EXPECT_EQ(run.Answer("text 1022"), "0");
    EXPECT_EQ(run.Answer("text 1033"), "0");
    EXPECT_EQ(run.Answer("focus"), "1021");
    EXPECT_EQ(run.Answer("text 1029"), "");
    EXPECT_TRUE(TransfersSinceMark().empty());

    // A byte read, port 0 (the driver's choice), then an out-of-range address that stops Read.
    run = InDialog({"settext", "1021", "5A", "text", "1030", "settext", "1022", "1C", "text", "1031", "click", "1024",
                    "text", "1029", "text", "1023", "text", "1032", "settext", "1021", "100", "text", "1030",
                    "text", "1029", "click", "1024"});
    EXPECT_EQ(run.Answer("text 1030"), "5Ah");
    EXPECT_EQ(run.Answer("text 1031"), "1Ch");
    EXPECT_EQ(run.Answer("text 1029"), "OK");
    EXPECT_EQ(run.Answer("text 1023"), "2");
    EXPECT_EQ(run.Answer("text 1032"), "2h");
    EXPECT_EQ(run.lines.at(5), "text 1030 invalid");
    EXPECT_EQ(run.lines.at(6), "text 1029 ");

    // A word write of 0x0501, least significant byte first: NVVDD frequency 5 (500 kHz).
    run = InDialog({"settext", "1021", "5A", "click", "1038", "settext", "1022", "13", "settext", "1023", "501",
                    "text", "1032", "click", "1025", "text", "1029"});
    EXPECT_EQ(run.Answer("text 1032"), "501h");
    EXPECT_EQ(run.Answer("text 1029"), "OK");

    // A word read on port 1, most significant byte first: 02 05 shows as 205.
    run = InDialog({"settext", "1033", "1", "click", "1037", "settext", "1022", "1C", "click", "1024", "text", "1029",
                    "text", "1023", "text", "1032"});
    EXPECT_EQ(run.Answer("text 1029"), "OK");
    EXPECT_EQ(run.Answer("text 1023"), "205");
    EXPECT_EQ(run.Answer("text 1032"), "205h");

    EXPECT_EQ(Lines(TransfersSinceMark()), (Strings{"R gpu0 p0 5A:1C [02] ok", "W gpu0 p0 5A:13 [01 05] ok",
                                                    "R gpu0 p1 5A:1C [02 05] ok"}));

    // Enter leaves the dialog open; Esc closes it and gives the controller window back.
    run = InDialog({"press-enter", "windows", "press-esc", "wait-gone", "10000", "use-main", "window-enabled",
                    "select", "1012", "1", "text", "1019"});
    EXPECT_EQ(run.Answer("windows"), "1 1 0");
    EXPECT_EQ(run.Answer("window-enabled"), "1");
    EXPECT_EQ(run.Answer("text 1019"), "500 kHz") << "the raw write reached the board";
    CloseProgram(program);
}

TEST_F(Win32InternalTest, PortBeyond255IsRefusedWithAMessageAndTheFieldSelected) {
    const pid_t program = StartProgram({"internalTest"});
    DriverRun run = Drive({"wait-main", "20000", "post-click", "1020"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    run = InDialog({"settext", "1033", "300", "post-click", "1038", "wait-message", "10000", "ok", "wait-gone", "10000",
                    "wait-dialog", "Internal Test", "10000", "focus", "press-esc", "wait-gone", "10000"});
    const std::string message = run.Answer("message");
    EXPECT_TRUE(message == "HalvornController|Enter an integer between 0 and 255.|exclamation" ||
                message == "HalvornController|Enter an integer between 0 and 255.|icon")
        << run.Transcript();
    EXPECT_EQ(run.Answer("focus"), "1033");
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
