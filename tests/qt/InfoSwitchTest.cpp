// `--version` and `--help` of the real HalvornController program: answered on standard output
// before Qt starts, so with no display at all, and nothing else happens.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace qt_test {
namespace {

struct Answer {
    int exitCode = -1;
    QString out;
    QString err;
};

// No display and no Qt platform: a program that started Qt here would fail instead of answering.
Answer RunProgram(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(HALVORN_CONTROLLER_PATH, arguments);
    Answer answer;
    if (!program.waitForFinished(20000)) {
        program.kill();
        program.waitForFinished();
        return answer;
    }
    if (program.exitStatus() == QProcess::NormalExit) answer.exitCode = program.exitCode();
    answer.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    answer.err = QString::fromLocal8Bit(program.readAllStandardError());
    return answer;
}

TEST(InfoSwitchTest, VersionPrintsTheProductNameAndTheBuildsVersionAndEnds) {
    for (const QStringList& arguments : {QStringList{"--version"}, QStringList{"--simulate", "--version"},
                                         QStringList{"internalTest", "--version", "--help"}}) {
        const Answer answer = RunProgram(arguments);
        EXPECT_EQ(answer.exitCode, 0) << arguments.join(' ').toStdString() << "\n" << answer.err.toStdString();
        EXPECT_EQ(answer.out.toStdString(), std::string("RTX Halvorn Controller ") + HALVORN_EXPECTED_VERSION + "\n");
        EXPECT_TRUE(answer.err.isEmpty()) << answer.err.toStdString();
    }
}

TEST(InfoSwitchTest, HelpListsEverySwitchTheProgramTakes) {
    const Answer answer = RunProgram({"--help"});
    EXPECT_EQ(answer.exitCode, 0) << answer.err.toStdString();
    ASSERT_TRUE(answer.out.startsWith("Usage: HalvornController")) << answer.out.toStdString();
    for (const char* switchName : {"--simulate ", "--simulate=FILE", "internalTest", "--version", "--help"})
        EXPECT_TRUE(answer.out.contains(QString("\n  ") + switchName)) << switchName << "\n" << answer.out.toStdString();
}

}  // namespace
}  // namespace qt_test
