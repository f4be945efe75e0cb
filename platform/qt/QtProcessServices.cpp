#include "platform/qt/QtProcessServices.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QWidget>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "platform/qt/QtBusy.h"

namespace qtfront {

namespace {

constexpr int kWaitMs = 1000;
// A request is one short line; anything longer is not ours.
constexpr qint64 kMaxRequest = 4096;
const QByteArray kRaise = QByteArrayLiteral("raise ");

void Trace(const QString& line) {
    if (!qEnvironmentVariableIsSet("HALVORN_TRACE_RAISE")) return;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// File names from the lock's name: letters and digits kept, anything else a hyphen.
QString FileStem(const std::wstring& name) {
    QString stem = QString::fromStdWString(name);
    for (QChar& c : stem)
        if (!c.isLetterOrNumber()) c = QLatin1Char('-');
    return stem.isEmpty() ? QStringLiteral("instance") : stem;
}

void HandleRequests(QLocalSocket* socket, BusyState& busy) {
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine().trimmed();
        if (!line.startsWith(kRaise)) continue;
        const QString title = QString::fromUtf8(line.mid(kRaise.size()));
        // Not in the middle of an operation: the window comes up once it has ended.
        if (busy.IsBusy()) Trace(QStringLiteral("raise requested: %1: held").arg(title));
        busy.WhenIdle(qApp, [title] {
            const bool raised = RaiseWindowTitled(title);
            Trace(QStringLiteral("raise requested: %1: %2")
                      .arg(title, raised ? QStringLiteral("raised") : QStringLiteral("no window")));
        });
    }
    if (socket->bytesAvailable() > kMaxRequest) socket->abort();
}

// A directory this user owns; without followLinks, not a link to one.
bool OwnDirectory(const QByteArray& path, bool followLinks) {
    struct stat status {};
    if ((followLinks ? stat(path.constData(), &status) : lstat(path.constData(), &status)) != 0) return false;
    return S_ISDIR(status.st_mode) && status.st_uid == geteuid();
}

QString UserName() {
    if (const passwd* user = getpwuid(geteuid()); user && user->pw_name) return QFile::decodeName(user->pw_name);
    return QString::number(geteuid());
}

}  // namespace

QString SessionDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && OwnDirectory(runtime, true)) return QFile::decodeName(runtime);
    // Shared /tmp: a link or another user's directory in its place is not taken.
    const QByteArray fallback = QFile::encodeName(QDir(QDir::tempPath()).filePath(QStringLiteral("runtime-") + UserName()));
    mkdir(fallback.constData(), 0700);
    if (OwnDirectory(fallback, false)) {
        chmod(fallback.constData(), 0700);
        return QFile::decodeName(fallback);
    }
    return QDir::tempPath();
}

void ProvideSessionDirectory() {
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(SessionDirectory()));
}

bool RaiseWindowTitled(const QString& title) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isWindow() || window->isHidden() || window->windowTitle() != title) continue;
        window->showNormal();  // restores a minimised window
        window->raise();
        window->activateWindow();
        return true;
    }
    return false;
}

QtProcessServices::QtProcessServices(BusyState& busy, QString directory)
    : busy_(busy),
      directory_(std::move(directory)),
      machineLock_(MachineLockDirectory() + "/" + kMachineLockFileName) {
    if (directory_.isEmpty()) directory_ = SessionDirectory();
}

QtProcessServices::~QtProcessServices() {
    ReleaseInstanceLock();
    ReleaseMachineLock();
}

QString QtProcessServices::LockFilePath(const std::wstring& name) const {
    return QDir(directory_).filePath(FileStem(name) + QStringLiteral(".lock"));
}

QString QtProcessServices::SocketPath(const std::wstring& name) const {
    return QDir(directory_).filePath(FileStem(name) + QStringLiteral(".socket"));
}

bool QtProcessServices::AcquireInstanceLock(const std::wstring& name) {
    name_ = name;
    auto lock = std::make_unique<QLockFile>(LockFilePath(name));
    // Held for the whole run however long it lasts; only a dead holder's lock is taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) return false;
        // No lock can be made there at all: running unguarded is better than not running.
        std::fprintf(stderr, "%s: cannot create the single-instance lock %s\n",
                     QString::fromStdWString(ApplicationName()).toLocal8Bit().constData(),
                     QDir::toNativeSeparators(LockFilePath(name)).toLocal8Bit().constData());
        return true;
    }
    lock_ = std::move(lock);
    Listen(name);
    return true;
}

void QtProcessServices::Listen(const std::wstring& name) {
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = SocketPath(name);
    if (!server->listen(path)) {
        // We hold the lock, so a socket file left there belongs to a holder that died.
        QLocalServer::removeServer(path);
        if (!server->listen(path)) {
            std::fprintf(stderr, "%s: cannot listen on %s: %s\n",
                         QString::fromStdWString(ApplicationName()).toLocal8Bit().constData(),
                         QDir::toNativeSeparators(path).toLocal8Bit().constData(),
                         server->errorString().toLocal8Bit().constData());
            return;
        }
    }
    QLocalServer* listener = server.get();
    // The listener and its sockets go before the services do, and so before the busy state.
    BusyState& busy = busy_;
    QObject::connect(listener, &QLocalServer::newConnection, listener, [listener, &busy] {
        while (QLocalSocket* socket = listener->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, &busy] { HandleRequests(socket, busy); });
            HandleRequests(socket, busy);
        }
    });
    server_ = std::move(server);
    Trace(QStringLiteral("instance listening"));
}

void QtProcessServices::ReleaseInstanceLock() {
    // The socket goes first, so the next holder of the lock finds its place free.
    server_.reset();
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}

bool QtProcessServices::AcquireMachineLock() {
    std::string why;
    switch (machineLock_.TryLock(why)) {
        case MachineLockFile::Result::Held:
            return true;
        case MachineLockFile::Result::Busy:
            return false;
        case MachineLockFile::Result::Unusable:
            break;
    }
    // Only a broken or tampered lock directory gets here. Refusing would keep the boot unit and
    // the window from the boards for good, and the window would take the refusal for a run at
    // work; going on is what the single-instance lock does too, and this line says how to fix it.
    if (!machineLockProblemSaid_) {
        std::fprintf(stderr, "%s: cannot use the lock on the boards %s: %s; going on without it (%s names another directory)\n",
                     QString::fromStdWString(ApplicationName()).toLocal8Bit().constData(), machineLock_.Path().c_str(),
                     why.c_str(), kMachineLockDirVariable);
        machineLockProblemSaid_ = true;
    }
    return true;
}

void QtProcessServices::ReleaseMachineLock() { machineLock_.Unlock(); }

void QtProcessServices::RaiseRunningInstance(const std::wstring& windowTitle) {
    QLocalSocket socket;
    socket.connectToServer(SocketPath(name_.empty() ? windowTitle : name_));
    // A holder without a listener cannot be asked: nothing is raised, as when a window search by
    // title finds nothing.
    if (!socket.waitForConnected(kWaitMs)) return;
    socket.write(kRaise + QString::fromStdWString(windowTitle).toUtf8() + '\n');
    socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWaitMs);
}

std::wstring QtProcessServices::ApplicationName() const {
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                       : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFileInfo(path).completeBaseName().toStdWString();
}

}  // namespace qtfront
