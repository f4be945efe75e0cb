#pragma once
// The Windows program under Wine, as a test sees it: the prefix and display the CTest fixture set
// up (wine-fixture.sh), a folder of the test's own that is the program's current directory, the
// simulator's nvapi.dll in the prefix's system directory or not, a scenario, and the driver that
// works the program's windows and answers questions about them.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace wine {

// What the driver printed, one answer per line, and how it ended.
struct DriverRun {
    int exitCode = -1;
    bool timedOut = false;
    std::vector<std::string> lines;
    std::string errors;

    bool ok() const { return exitCode == 0 && !timedOut; }
    // The rest of the first line that starts with `question` and a blank ("text 1001" gives
    // "1.20000 V"); "(no answer)" when there is none.
    std::string Answer(const std::string& question) const;
    // Everything, for failure messages.
    std::string Transcript() const;
};

// A line of the simulator's transfer log, split: "W gpu0 p1 5A:10 [03 01 C0 00] ok".
struct Transfer {
    char kind = '?';  // R or W
    int gpu = -1;     // position of the GPU in the scenario
    std::string rest; // "p1 5A:10 [03 01 C0 00] ok"
};

class WineTest : public ::testing::Test {
public:
    // The Windows build this run tests, chosen by HALVORN_WINE_ARCH (32 or 64, set by CTest), with
    // its build folder and the work folder its CTest fixture prepared.
    struct Width {
        int bits;
        std::string build;
        std::string work;
    };
    static Width WidthUnderTest();

protected:
    void SetUp() override;
    void TearDown() override;

    // With the simulator as NvAPI's library in the system directory, or without one.
    void InstallNvApi(bool present);
    // The next program start simulates this machine; the built-in one when never called.
    void UseScenario(const std::string& text);

    // Starts HalvornController.exe with these arguments; it runs until it ends or the test does.
    pid_t StartProgram(const std::vector<std::string>& arguments = {});
    // Waits for a program started by this test to end; false when it still runs after timeoutMs.
    bool WaitForExit(pid_t program, int timeoutMs);
    bool IsRunning(pid_t program);
    // How a program that WaitForExit or IsRunning saw end ended: its exit status, or -1 when it was
    // killed by a signal or has not been seen to end.
    int ExitStatus(pid_t program) const;

    // Starts a copy of the program kept elsewhere (a Unix path), as StartProgram does.
    pid_t StartProgramFrom(const std::string& program, const std::vector<std::string>& arguments = {});

    // Runs the driver with these commands and waits for it.
    DriverRun Drive(const std::vector<std::string>& commands, int timeoutMs = 60000);
    // Runs another Windows helper program (a Unix path) the same way.
    DriverRun RunHelper(const std::string& helper, const std::vector<std::string>& arguments, int timeoutMs = 60000);
    // Runs HalvornController.exe with these arguments and waits for it to end: its exit status
    // and what it wrote to standard output (lines) and standard error.
    DriverRun RunProgram(const std::vector<std::string>& arguments, int timeoutMs = 60000);
    // Closes the controller window with its close box and waits for the program to end.
    void CloseProgram(pid_t program);

    // The simulator's transfer log so far; the "error:" lines the simulator wrote go to errors.
    std::vector<Transfer> Transfers(std::vector<std::string>* errors = nullptr) const;
    // Transfers logged from now on are those after the mark.
    void MarkLog();
    std::vector<Transfer> TransfersSinceMark() const;
    static std::vector<std::string> Writes(const std::vector<Transfer>& transfers, int gpu);

    // The boot identity the programs started from now on take for this boot's (HALVORN_BOOT_ID);
    // the system's own unless set.
    void SetBootId(const std::string& id) { bootId_ = id; }

    // Wine's debug channels for the programs started from now on ("-all" unless set).
    void SetWineDebug(const std::string& channels) { wineDebug_ = channels; }

    // The test's own folder: the program's current directory, where Profile.ini goes.
    const std::string& Folder() const { return folder_; }
    // The Windows name of a path under "/", as Wine's drive Z: shows it.
    static std::string WindowsPath(const std::string& unixPath);
    const std::string& ProgramPath() const { return program_; }
    // 32 or 64; the build folder of that width; NvAPI's library name there (nvapi.dll, nvapi64.dll).
    int Bits() const { return bits_; }
    const std::string& BuildFolder() const { return build_; }
    const std::string& NvApiLibrary() const { return nvapiLibrary_; }

private:
    pid_t Spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err);
    DriverRun Await(const std::vector<std::string>& argv, const std::string& name, int timeoutMs);
    std::vector<std::string> Environment() const;
    void Reap(pid_t pid);

    int bits_ = 32;
    std::string build_;
    std::string work_;
    std::string prefix_;
    std::string loader_;
    std::string nvapiLibrary_;
    std::string display_;
    std::string program_;
    std::string nvapiDll_;
    std::string driver_;
    std::string folder_;
    std::string scenario_;
    std::string wineDebug_ = "-all";
    std::string bootId_;
    std::size_t mark_ = 0;
    std::vector<pid_t> programs_;
    std::map<pid_t, int> exitStatus_;
    int spawned_ = 0;
};

}  // namespace wine
