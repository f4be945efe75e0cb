#include "platform/qt/SimulatorLog.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>

#include "sim/TransferLog.h"

namespace qtfront {

void AppendSimulatorLog(const sim::TransferLog& log) {
    const QString path = qEnvironmentVariable("HALVORN_SIM_LOG");
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "cannot write the simulator log %s: %s\n", path.toLocal8Bit().constData(),
                     file.errorString().toLocal8Bit().constData());
        return;
    }
    file.write(QByteArray::fromStdString(log.Dump()));
}

}  // namespace qtfront
