#include "WineTest.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace wine {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// Names the tests set themselves; a value from the calling shell must not leak in.
bool IsOurs(const char* entry) {
    static const char* const kNames[] = {"WINEPREFIX=", "WINEARCH=",           "WINEDEBUG=",          "DISPLAY=",
                                         "WINEDLLOVERRIDES=", "HALVORN_SIM_LOG=", "HALVORN_SIM_SCENARIO=",
                                         "LC_ALL=", "HALVORN_BOOT_ID="};
    for (const char* name : kNames)
        if (std::strncmp(entry, name, std::strlen(name)) == 0) return true;
    return false;
}

}  // namespace

std::string DriverRun::Answer(const std::string& question) const {
    const std::string prefix = question + " ";
    for (const std::string& line : lines)
        if (StartsWith(line, prefix)) return line.substr(prefix.size());
    return "(no answer)";
}

std::string DriverRun::Transcript() const {
    std::string text = "driver exit " + std::to_string(exitCode) + (timedOut ? " (timed out)" : "") + "\n";
    for (const std::string& line : lines) text += "  " + line + "\n";
    if (!errors.empty()) text += "  stderr: " + errors + "\n";
    return text;
}

std::string WineTest::WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

WineTest::Width WineTest::WidthUnderTest() {
    const char* bits = std::getenv("HALVORN_WINE_ARCH");
    if (bits && std::string(bits) == "64") return Width{64, HALVORN_WINDOWS64_BUILD, std::string(HALVORN_WINE_WORK) + "64"};
    return Width{32, HALVORN_WINDOWS_BUILD, std::string(HALVORN_WINE_WORK) + "32"};
}

void WineTest::SetUp() {
    const Width width = WidthUnderTest();
    bits_ = width.bits;
    build_ = width.build;
    work_ = width.work;
    const std::string skipped = Trim(ReadFile(work_ + "/skipped"));
    if (!skipped.empty()) GTEST_SKIP() << skipped;

    prefix_ = work_ + "/prefix";
    nvapiLibrary_ = Trim(ReadFile(work_ + "/nvapi"));
    loader_ = Trim(ReadFile(work_ + "/loader"));
    display_ = Trim(ReadFile(work_ + "/display"));
    ASSERT_FALSE(display_.empty() || loader_.empty() || nvapiLibrary_.empty() ||
                 !fs::is_directory(prefix_ + "/drive_c/windows/system32"))
        << "no " << bits_ << "-bit Wine prefix in " << prefix_ << "; the CTest fixture test win" << bits_
        << ".wine_setup prepares it (run the tests through ctest)";
    program_ = build_ + "/HalvornController.exe";
    nvapiDll_ = build_ + "/sim-nvapi/" + nvapiLibrary_;
    driver_ = build_ + "/test-driver/halvorn_driver.exe";
    for (const std::string& artifact : {program_, nvapiDll_, driver_})
        ASSERT_TRUE(fs::exists(artifact)) << "missing " << artifact << "; build the " << bits_
                                          << "-bit Windows program first: cmake --preset "
                                          << (bits_ == 64 ? "windows64" : "windows") << " && cmake --build --preset "
                                          << (bits_ == 64 ? "windows64" : "windows");

    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = work_ + "/tests/" + test->test_suite_name() + "." + test->name();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    fs::create_directories(folder_);
    InstallNvApi(true);
}

void WineTest::TearDown() {
    // Whatever a failed test left running must not look like a first instance to the next test.
    for (pid_t program : programs_) {
        kill(program, SIGKILL);
        Reap(program);
    }
    programs_.clear();
}

void WineTest::InstallNvApi(bool present) {
    const std::string target = prefix_ + "/drive_c/windows/system32/" + nvapiLibrary_;
    std::error_code error;
    if (present)
        fs::copy_file(nvapiDll_, target, fs::copy_options::overwrite_existing, error);
    else
        fs::remove(target, error);
    ASSERT_FALSE(error) << target << ": " << error.message();
}

void WineTest::UseScenario(const std::string& text) {
    scenario_ = folder_ + "/scenario.txt";
    std::ofstream(scenario_, std::ios::binary) << text;
}

std::vector<std::string> WineTest::Environment() const {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry)
        if (!IsOurs(*entry)) env.emplace_back(*entry);
    env.push_back("WINEPREFIX=" + prefix_);
    env.push_back("WINEARCH=win" + std::to_string(bits_));
    env.push_back("WINEDEBUG=" + wineDebug_);
    env.push_back("DISPLAY=:" + display_);
    // Wine takes the ANSI code page from the locale: English, so Windows-1252, on every machine.
    env.push_back("LC_ALL=C.UTF-8");
    env.push_back("HALVORN_SIM_LOG=" + WindowsPath(folder_ + "/sim.log"));
    if (!scenario_.empty()) env.push_back("HALVORN_SIM_SCENARIO=" + WindowsPath(scenario_));
    if (!bootId_.empty()) env.push_back("HALVORN_BOOT_ID=" + bootId_);
    return env;
}

pid_t WineTest::Spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    std::vector<std::string> env = Environment();
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0 || chdir(folder_.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

void WineTest::Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

pid_t WineTest::StartProgram(const std::vector<std::string>& arguments) { return StartProgramFrom(program_, arguments); }

pid_t WineTest::StartProgramFrom(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {loader_, program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string name = folder_ + "/program-" + std::to_string(++spawned_);
    const pid_t pid = Spawn(argv, name + ".out", name + ".err");
    if (pid > 0) programs_.push_back(pid);
    return pid;
}

bool WineTest::IsRunning(pid_t program) {
    int status = 0;
    const pid_t done = waitpid(program, &status, WNOHANG);
    if (done == program) {
        programs_.erase(std::remove(programs_.begin(), programs_.end(), program), programs_.end());
        exitStatus_[program] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return done == 0;
}

bool WineTest::WaitForExit(pid_t program, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Polled: the program ends in another process, and there is nothing else to wait on.
    while (IsRunning(program)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int WineTest::ExitStatus(pid_t program) const {
    const auto found = exitStatus_.find(program);
    return found == exitStatus_.end() ? -1 : found->second;
}

DriverRun WineTest::Drive(const std::vector<std::string>& commands, int timeoutMs) {
    return RunHelper(driver_, commands, timeoutMs);
}

DriverRun WineTest::RunHelper(const std::string& helper, const std::vector<std::string>& arguments, int timeoutMs) {
    std::vector<std::string> argv = {loader_, helper};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return Await(argv, folder_ + "/driver-" + std::to_string(++spawned_), timeoutMs);
}

DriverRun WineTest::RunProgram(const std::vector<std::string>& arguments, int timeoutMs) {
    std::vector<std::string> argv = {loader_, program_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return Await(argv, folder_ + "/program-" + std::to_string(++spawned_), timeoutMs);
}

DriverRun WineTest::Await(const std::vector<std::string>& argv, const std::string& name, int timeoutMs) {
    DriverRun run;
    const pid_t pid = Spawn(argv, name + ".out", name + ".err");
    if (pid < 0) {
        run.errors = "cannot start wine";
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            Reap(pid);
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!run.timedOut) run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.lines = Lines(ReadFile(name + ".out"));
    run.errors = Trim(ReadFile(name + ".err"));
    return run;
}

void WineTest::CloseProgram(pid_t program) {
    const DriverRun run = Drive({"use-main", "close", "wait-gone", "10000"});
    EXPECT_TRUE(run.ok()) << run.Transcript();
    EXPECT_TRUE(WaitForExit(program, 15000)) << "the program did not end after its window closed";
    EXPECT_EQ(ExitStatus(program), 0) << "the program's exit status after its window closed";
}

std::vector<Transfer> WineTest::Transfers(std::vector<std::string>* errors) const {
    std::vector<Transfer> transfers;
    for (const std::string& line : Lines(ReadFile(folder_ + "/sim.log"))) {
        if (StartsWith(line, "error:")) {
            if (errors) errors->push_back(line);
            continue;
        }
        Transfer t;
        int gpu = -1;
        int used = 0;
        char kind = 0;
        if (std::sscanf(line.c_str(), "%c gpu%d %n", &kind, &gpu, &used) < 2 || used == 0) continue;
        t.kind = kind;
        t.gpu = gpu;
        t.rest = line.substr(static_cast<std::size_t>(used));
        transfers.push_back(t);
    }
    return transfers;
}

void WineTest::MarkLog() { mark_ = Transfers().size(); }

std::vector<Transfer> WineTest::TransfersSinceMark() const {
    std::vector<Transfer> all = Transfers();
    if (mark_ >= all.size()) return {};
    return std::vector<Transfer>(all.begin() + static_cast<std::ptrdiff_t>(mark_), all.end());
}

std::vector<std::string> WineTest::Writes(const std::vector<Transfer>& transfers, int gpu) {
    std::vector<std::string> writes;
    for (const Transfer& t : transfers)
        if (t.kind == 'W' && t.gpu == gpu) writes.push_back(t.rest);
    return writes;
}

}  // namespace wine
