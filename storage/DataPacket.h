#pragma once

#include <QByteArray>
#include <QString>

class DataTable;

// The list file format: a whole table (fields, every row version, change log, ID counter)
// as one XML data packet, written byte for byte the same way every time.
namespace DataPacket {

// The packet of a table. A pending row is settled first (stored when changed).
QByteArray Write(DataTable& table);

// Writes the packet to a temporary file beside fileName and renames it over fileName, so a
// failed save leaves the old file whole. Throws CorvantisError
// "Cannot create file "<full name>". <system text>". Returns the warning of a save that stands
// though its folder could not be synced (SaveFile::commit), a null text when none.
QString SaveToFile(DataTable& table, const QString& fileName);

// The same, for a copy of the list kept for the user alone (0600): the table is not touched, and
// a pending row is written as storing it would write it (its values as they stand, the editing
// going on).
QString SaveCopyToFile(const DataTable& table, const QString& fileName);

// What a read noticed that the user is to be told once, though the list loaded.
struct ReadNotice {
    // The file was taken as UTF-8 (it says so, or begins with a byte-order mark) but held bytes
    // that are not: each such byte was read as the Windows-1252 character of the same number
    // (after a byte-order mark, as the replacement character U+FFFD), the rest as UTF-8. A save
    // writes the list as UTF-8.
    bool notUtf8 = false;
    bool replaced = false; // (after a byte-order mark)
    // The message about a file, empty when there is nothing to tell.
    QString text(const QString& fileName) const;
};

// Makes the table anew from a packet: the table is closed first and stays closed, without
// fields or rows, when reading fails. Throws CorvantisError with the reader's messages.
ReadNotice Read(DataTable& table, const QByteArray& bytes);

// The largest list file read: its rows may take three times its size in memory, and a row
// must stay within 4 GB.
constexpr qint64 MaxFileSize = qint64(1) << 30;

// Reads the file whole, then as Read. Throws CorvantisError
// "Cannot open file "<full name>". <reason>" when it cannot be read: a system error, anything
// but a regular file, a file larger than maxSize.
ReadNotice LoadFromFile(DataTable& table, const QString& fileName, qint64 maxSize = MaxFileSize);

} // namespace DataPacket
