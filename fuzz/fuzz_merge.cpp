// Merges two copies of a list, each given as list file bytes, the two separated by a line
// "#merge#" (without one, a list is merged with itself). Conflicts are settled by the input's
// bytes. The merge either refuses with a message, or gives a list that writes a packet which reads
// back to the same bytes; the other copy is never changed.
#include "base/CorvantisError.h"
#include "document/ListMerge.h"
#include "model/DataTable.h"
#include "storage/DataPacket.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool Read(DataTable& table, const QByteArray& bytes) {
    table.setObjectName(QStringLiteral("cdsTasks"));
    try {
        DataPacket::Read(table, bytes);
    } catch (const CorvantisError&) {
        return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    static const QByteArray separator = QByteArrayLiteral("\n#merge#\n");
    const qsizetype split = input.indexOf(separator);
    const QByteArray first = split < 0 ? input : input.left(split);
    const QByteArray second = split < 0 ? input : input.mid(split + separator.size());
    DataTable mine, other;
    if (!Read(mine, first) || !Read(other, second))
        return 0;
    const QByteArray otherBefore = DataPacket::Write(other);

    ListMerge::Plan plan;
    try {
        plan = ListMerge::Prepare(mine, other, QStringLiteral("other.cv1"));
    } catch (const CorvantisError& e) {
        if (e.message().isEmpty())
            std::abort();
        return 0;
    }
    MergeChoices choices;
    for (std::size_t i = 0; i < plan.conflicts.size(); ++i)
        choices.push_back(size > 0 && (data[i % size] & 1) ? MergeConflict::Side::OtherCopy
                                                           : MergeConflict::Side::ThisCopy);
    try {
        ListMerge::Apply(mine, plan, choices);
    } catch (const CorvantisError& e) {
        // Only a counter at its end may stop a merge of a list as read.
        if (e.message() != QStringLiteral("cdsTasks: The ID counter is exhausted"))
            std::abort();
    }

    const QByteArray merged = DataPacket::Write(mine);
    DataTable again;
    if (!Read(again, merged) || DataPacket::Write(again) != merged)
        std::abort(); // our own packet must always read back
    if (DataPacket::Write(other) != otherBefore)
        std::abort();
    return 0;
}
