#pragma once

#include "model/DataTable.h"

#include <QByteArray>
#include <QString>

// A reference for the list file reader: the reader as it was before versions were packed, every
// row read by its general path on one thread and every version laid out as a row.
namespace ReferencePacketReader {

// The packet's content; throws CorvantisError with the reader's messages (an empty packet's
// message prefixed with tableName as DataPacket::Read prefixes it).
DataTable::Content Read(const QByteArray& bytes, const QString& tableName = QString());

// How a read through DataPacket::Read differs from the reference's read of the same bytes: its
// error, or its fields, change log, versions (states, sizes and values, packed ones laid out),
// ID counter or written packet. Empty when they agree.
QString Difference(const QByteArray& bytes);

} // namespace ReferencePacketReader
