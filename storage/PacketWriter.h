#pragma once

#include <cstddef>
#include <functional>

class DataTable;

// The list file writer's packet handed on in pieces as it is made, for saving: a large list goes
// to the disk through a buffer that stays in the processor's cache instead of one the size of
// the file.
namespace PacketWriter {

using Deliver = std::function<void(const char* bytes, std::size_t size)>;

// Makes a table ready to be written: refuses a closed one, settles a pending row (stored when
// changed).
void prepare(DataTable& table);

// Writes the packet of a prepared table in pieces of about `piece` bytes. deliver may go on
// using a piece's bytes until it is called again; at the end it is called with no bytes, and by
// its return must have let go of every piece. Whatever it throws ends the writing. withPending:
// a pending row (of an unprepared table) is written as storing it would write it.
void writeTo(const DataTable& table, std::size_t piece, const Deliver& deliver,
             bool withPending = false);

} // namespace PacketWriter
