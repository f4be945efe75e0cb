#include "sim/TransferLog.h"

#include <cstdio>

namespace sim {

std::vector<LogEntry> TransferLog::Writes() const {
    std::vector<LogEntry> writes;
    for (const LogEntry& e : entries_)
        if (e.kind == LogEntry::Kind::Write) writes.push_back(e);
    return writes;
}

std::string TransferLog::Format(const LogEntry& e, ReadBytes reads) {
    char head[96];
    if (e.kind == LogEntry::Kind::Pause) {
        std::snprintf(head, sizeof head, "pause %u ms", e.pauseMs);
        return head;
    }
    const bool isRead = e.kind == LogEntry::Kind::Read;
    std::snprintf(head, sizeof head, "%c gpu%u p%u %02X:%02X", isRead ? 'R' : 'W', e.gpu, e.port, e.device, e.reg);
    std::string line = head;
    if (isRead && reads == ReadBytes::Length) {
        line += " len " + std::to_string(e.length);
        return line + (e.ok() ? " ok" : " FAIL");
    }
    line += " [";
    for (std::size_t i = 0; i < e.bytes.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", e.bytes[i]);
        line += byte;
    }
    line += "]";
    if (e.kind == LogEntry::Kind::Read && !e.ok()) {
        char len[24];
        std::snprintf(len, sizeof len, " len %u", e.length);
        line += len;
    }
    line += e.ok() ? " ok" : " FAIL";
    return line;
}

std::string TransferLog::Dump() const {
    std::string text;
    for (const LogEntry& e : entries_) text += Format(e) + "\n";
    return text;
}

}  // namespace sim
