// Feeds arbitrary bytes to the list file reader. A load either fails with a message and leaves
// the table closed, or gives a table that writes a packet which reads back to the same bytes,
// shows every cell and takes a new row without a key violation. Either way it agrees with the
// reference reader of the tests (the same error, or the same versions, counter and packet).
#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "storage/DataPacket.h"
#include "support/ReferencePacketReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!ReferencePacketReader::Difference(bytes).isEmpty())
        std::abort();
    DataTable table;
    table.setObjectName(QStringLiteral("cdsTasks"));
    try {
        DataPacket::Read(table, bytes);
    } catch (const CorvantisError& e) {
        if (e.message().isEmpty() || table.isActive() || !table.fields().empty() ||
            table.versionCount() != 0)
            std::abort();
        return 0;
    }

    const int fields = static_cast<int>(table.fields().size());
    for (int r = 0; r < table.visibleRowCount(); ++r)
        for (int f = 0; f < fields; ++f)
            (void)table.displayTextOf(table.rowDataAt(r), f);

    const QByteArray written = DataPacket::Write(table);
    DataTable again;
    try {
        DataPacket::Read(again, written);
    } catch (const CorvantisError&) {
        std::abort(); // our own packet must always read back
    }
    if (DataPacket::Write(again) != written)
        std::abort();

    if (table.autoIncField() >= 0) {
        try {
            table.append();
            table.post();
        } catch (const CorvantisError& e) {
            // The counter is always above every stored ID; only its end may be reached.
            if (e.message() == QStringLiteral("Key violation."))
                std::abort();
        }
    }
    return 0;
}
