#pragma once
// The process services on Linux with Qt. The single-instance lock is a lock file in the user's
// runtime directory, held from acquiring to release (a crashed holder's lock is taken over). The
// holder listens on a local socket beside it; a second start asks through it to raise the window
// with the application's title, which the holder then shows, restores, raises and activates.
//
// With HALVORN_TRACE_RAISE set in the environment the holder notes on stderr when it starts
// listening and what it did with each raise request.
//
// The machine lock on the boards is MachineLockFile's, in MachineLockDirectory().
#include <QString>

#include <memory>
#include <string>

#include "app/ProcessServices.h"
#include "platform/qt/MachineLockFile.h"

class QLocalServer;
class QLockFile;

namespace qtfront {

class BusyState;

class QtProcessServices final : public ProcessServices {
public:
    // busy: the program's, which holds raise requests back while an operation runs; directory:
    // where the single-instance lock file and the socket live, empty for the user's runtime
    // directory (SessionDirectory).
    explicit QtProcessServices(BusyState& busy, QString directory = QString());
    ~QtProcessServices() override;
    QtProcessServices(const QtProcessServices&) = delete;
    QtProcessServices& operator=(const QtProcessServices&) = delete;

    // Qt registers its widget classes itself.
    void InitCommonControls() override {}
    bool AcquireInstanceLock(const std::wstring& name) override;
    void ReleaseInstanceLock() override;
    bool AcquireMachineLock() override;
    void ReleaseMachineLock() override;
    void RaiseRunningInstance(const std::wstring& windowTitle) override;
    std::wstring ApplicationName() const override;

    QString LockFilePath(const std::wstring& name) const;
    QString SocketPath(const std::wstring& name) const;
    const std::string& MachineLockPath() const { return machineLock_.Path(); }

private:
    void Listen(const std::wstring& name);

    BusyState& busy_;
    QString directory_;
    std::wstring name_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    MachineLockFile machineLock_;
    bool machineLockProblemSaid_ = false;
};

// The user's runtime directory: XDG_RUNTIME_DIR when it names a directory of the user's, else
// runtime-USER under the temp directory (made if missing), else the temp directory; Qt's choice,
// without its warning when the variable is unset, as it is for log-on units and the boot unit.
QString SessionDirectory();
// For Qt's own start, which asks for the runtime directory and warns when XDG_RUNTIME_DIR is
// unset: sets the variable to SessionDirectory() then. Called before the application object.
void ProvideSessionDirectory();

// Shows, restores, raises and activates the top-level window with this title; false when there
// is none on screen.
bool RaiseWindowTitled(const QString& title);

}  // namespace qtfront
