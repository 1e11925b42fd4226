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
    const std::optional<ReminderLog> log = ReminderLog::fromBytes(bytes, listFile);
    if (!log)
        return 0;
    const QByteArray written = log->toBytes(listFile);
    const std::optional<ReminderLog> again = ReminderLog::fromBytes(written, listFile);
    if (!again || again->size() != log->size() ||
        sortedLines(again->toBytes(listFile)) != sortedLines(written))
        std::abort();
    return 0;
}
