// Feeds arbitrary bytes to the reminder log reader; what it takes must write back to the same
// entries.
#include "reminders/ReminderLog.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {
QList<QByteArray> sortedLines(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    std::sort(lines.begin(), lines.end());
    return lines;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString listFile = QStringLiteral("/home/u/Week plan.cv1");
    const std::optional<ReminderLog> log = ReminderLog::FromBytes(bytes, listFile);
    if (!log)
        return 0;
    const QByteArray written = log->ToBytes(listFile);
    const std::optional<ReminderLog> again = ReminderLog::FromBytes(written, listFile);
    if (!again || again->Size() != log->Size() ||
        sortedLines(again->ToBytes(listFile)) != sortedLines(written))
        std::abort();
    return 0;
}
