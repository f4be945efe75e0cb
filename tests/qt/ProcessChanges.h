#pragma once
// What a test changes of its own process for a while: an environment variable, standard error.
#include <QByteArray>
#include <QtGlobal>

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace qt_test {

// An environment variable set (or unset, for nullopt) until the object goes.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<QByteArray> value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value) qputenv(name, *value);
        else qunsetenv(name);
    }
    ~ScopedVariable() {
        if (had_) qputenv(name_, old_);
        else qunsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// This process's standard error, caught in a file while the object lives; a child forked
// meanwhile writes there too.
class StderrCapture {
public:
    StderrCapture() : file_(std::tmpfile()) {
        std::fflush(stderr);
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() {
        Stop();
        std::fclose(file_);
    }
    std::string Text() {
        Stop();
        std::string text;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
        return text;
    }

private:
    void Stop() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    std::FILE* file_;
    int saved_ = -1;
};

}  // namespace qt_test
