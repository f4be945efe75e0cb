// The user's runtime directory, where the single-instance lock and its socket go: the session's
// XDG_RUNTIME_DIR, else Qt's stand-in under the temp directory, chosen without the toolkit's
// warning that a session without the variable (the boot unit, log-on scripts, sudo) gets.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <string>

#include "ProcessChanges.h"
#include "platform/qt/QtProcessServices.h"

namespace qt_test {
namespace {

struct RuntimeCase {
    const char* name;
    enum { Unset, Empty, Own, Missing, UnsetWithLooseFallback } variable;
    friend void PrintTo(const RuntimeCase& c, std::ostream* os) { *os << c.name; }
};

class SessionDirectoryTest : public ::testing::TestWithParam<RuntimeCase> {};

TEST_P(SessionDirectoryTest, IsTheVariablesOwnDirectoryElseRuntimeUserUnderTemp) {
    QTemporaryDir own;
    QTemporaryDir temp;
    ASSERT_TRUE(own.isValid());
    ASSERT_TRUE(temp.isValid());
    ScopedVariable tmpdir("TMPDIR", QFile::encodeName(temp.path()));
    std::optional<QByteArray> value;
    switch (GetParam().variable) {
        case RuntimeCase::Unset: break;
        case RuntimeCase::Empty: value = QByteArray(); break;
        case RuntimeCase::Own: value = QFile::encodeName(own.path()); break;
        case RuntimeCase::Missing: value = QFile::encodeName(own.path() + QStringLiteral("/gone")); break;
        case RuntimeCase::UnsetWithLooseFallback: break;
    }
    ScopedVariable runtime("XDG_RUNTIME_DIR", value);
    const passwd* user = getpwuid(geteuid());
    ASSERT_NE(user, nullptr);
    const QString fallback = QDir(temp.path()).filePath(QStringLiteral("runtime-") + QString::fromLocal8Bit(user->pw_name));
    if (GetParam().variable == RuntimeCase::UnsetWithLooseFallback) {
        ASSERT_EQ(mkdir(QFile::encodeName(fallback).constData(), 0755), 0);
    }
    StderrCapture errors;

    const QString chosen = qtfront::SessionDirectory();

    const bool fromVariable = GetParam().variable == RuntimeCase::Own;
    EXPECT_EQ(chosen.toStdString(), fromVariable ? own.path().toStdString() : fallback.toStdString());
    if (!fromVariable) {
        struct stat status {};
        ASSERT_EQ(lstat(QFile::encodeName(chosen).constData(), &status), 0);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
    EXPECT_EQ(errors.Text(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionDirectoryTest,
                         ::testing::Values(RuntimeCase{"Unset", RuntimeCase::Unset},
                                           RuntimeCase{"Empty", RuntimeCase::Empty},
                                           RuntimeCase{"OwnDirectory", RuntimeCase::Own},
                                           RuntimeCase{"MissingDirectory", RuntimeCase::Missing},
                                           // Made by an earlier run under another umask.
                                           RuntimeCase{"UnsetWithLooseFallback",
                                                       RuntimeCase::UnsetWithLooseFallback}),
                         [](const auto& p) { return std::string(p.param.name); });

// Before the application object: Qt's platform start then finds the variable set.
TEST(ProvideSessionDirectoryTest, SetsTheVariableOnlyWhenTheSessionHasNone) {
    QTemporaryDir own;
    QTemporaryDir temp;
    ASSERT_TRUE(own.isValid());
    ASSERT_TRUE(temp.isValid());
    ScopedVariable tmpdir("TMPDIR", QFile::encodeName(temp.path()));
    {
        ScopedVariable runtime("XDG_RUNTIME_DIR", QFile::encodeName(own.path()));
        qtfront::ProvideSessionDirectory();
        EXPECT_EQ(qgetenv("XDG_RUNTIME_DIR").toStdString(), own.path().toStdString());
    }
    ScopedVariable runtime("XDG_RUNTIME_DIR", std::nullopt);
    qtfront::ProvideSessionDirectory();
    EXPECT_EQ(qgetenv("XDG_RUNTIME_DIR").toStdString(), qtfront::SessionDirectory().toStdString());
    EXPECT_EQ(QFileInfo(qtfront::SessionDirectory()).dir().path().toStdString(), temp.path().toStdString());
}

// Another user's directory in the fallback's place (shared /tmp) is not taken.
TEST(SessionDirectoryFallbackTest, AnotherUsersDirectoryInItsPlaceIsNotUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a directory of another user";
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    ScopedVariable tmpdir("TMPDIR", QFile::encodeName(temp.path()));
    ScopedVariable runtime("XDG_RUNTIME_DIR", std::nullopt);
    const QByteArray squatted = QFile::encodeName(QDir(temp.path()).filePath(QStringLiteral("runtime-root")));
    ASSERT_EQ(mkdir(squatted.constData(), 0777), 0);
    ASSERT_EQ(chown(squatted.constData(), 65534, 65534), 0);

    EXPECT_EQ(qtfront::SessionDirectory().toStdString(), temp.path().toStdString());
}

// The real program without a session, as the boot unit and log-on scripts start it.
TEST(ProgramWithoutSessionTest, SaysNothingAboutTheMissingRuntimeDirectory) {
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    // The session's stand-in, runtime-USER, goes there, away from other tests' runs.
    for (const QStringList& arguments : {QStringList{QStringLiteral("--help")},
                                         QStringList{QStringLiteral("--simulate"), QStringLiteral("--list")}}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("TMPDIR"), work.path());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(work.path());
        program.start(QStringLiteral(HALVORN_CONTROLLER_PATH), arguments);
        ASSERT_TRUE(program.waitForFinished(30000)) << arguments.join(' ').toStdString();
        EXPECT_EQ(program.exitCode(), 0) << arguments.join(' ').toStdString();
        EXPECT_EQ(program.readAllStandardError().toStdString(), "") << arguments.join(' ').toStdString();
    }
    // The window too, on a display of Qt's own: up until it listens for a second start, nothing else said.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HALVORN_TRACE_RAISE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("TMPDIR"), work.path());
    QProcess window;
    window.setProcessEnvironment(environment);
    window.setWorkingDirectory(work.path());
    window.setReadChannel(QProcess::StandardError);
    window.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {QStringLiteral("--simulate")});
    ASSERT_TRUE(window.waitForStarted(15000));
    QByteArray said;
    while (!said.contains("instance listening\n") && window.waitForReadyRead(15000)) said += window.readAllStandardError();
    window.kill();
    window.waitForFinished(15000);
    EXPECT_EQ(said.toStdString(), "instance listening\n");
}

}  // namespace
}  // namespace qt_test
