#pragma once

#include "model/DataTable.h"
#include "storage/DataPacket.h"
#include "storage/PacketFieldStarts.h"
#include "storage/PacketScanner.h"

#include <QHash>
#include <QString>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

// The list file reader: the packet's own structure (fields, change log, counter, rows) on top of
// the generic tokenizer in PacketScanner.h. One pass over UTF-8 text, row values unescaped
// straight into their final place, numbers and dates read from bytes. It skips everything else
// it meets in the places other writers put extras (field parameters, nested rows, comments); it
// never resolves entities beyond the five predefined ones and character references, and refuses
// a document type declaration outright.
//
// Every row is read whole, so a damaged one fails the load wherever it is. A version that is
// not shown (superseded, deleted; its state comes first as writers lay rows out) is packed
// (RowDataStore) instead of laid out as a row: nothing reads it until the history windows or a
// save ask. Nothing the table keeps points into the text, so the file may change once it is read.
//
// The rows take two paths that must agree value for value: rows as writers lay them out take a
// plain path that decodes each value into its place; any other layout is read again from the
// row's start by the general path, which also words every error. Both live in
// PacketReaderRows.cpp, where the compiler sees all of the row path in one unit; the structure
// around the rows is in PacketReader.cpp.
class PacketReader : private PacketScanner {
public:
    // Thrown when text that should be UTF-8 is not.
    struct NotUtf8 {};

    // With `checking`, the text must prove well-formed UTF-8, or the read stops with NotUtf8.
    // `mapped`: the text is a file mapped for reading, whose pages are given back behind the
    // reader.
    PacketReader(std::string_view text, std::size_t fileSize, bool checking, bool mapped);
    // A reader of the rows from `from` on, beside `first`, which has read the fields.
    PacketReader(const PacketReader& first, const char* from);
    ~PacketReader();
    PacketReader(const PacketReader&) = delete;
    PacketReader& operator=(const PacketReader&) = delete;

    DataTable::Content run();

    // DataPacket::Read; `mapped`: bytes is a file mapped for reading.
    static DataPacket::ReadNotice readInto(DataTable& table, const QByteArray& bytes, bool mapped);

private:
    // A row attribute as the row readers see it: the number of the field it names (0 and up),
    // or one of these.
    enum RowAttribute : int {
        OtherName = PacketFieldStarts::None, // names no field, or no field start is there
        RowStateName = -2,                   // the row's state
        NotLaidOut = -3,                     // not as writers lay it out: read the name to tell
    };
    // Where a row value goes and how it is read.
    struct Slot {
        FieldKind kind;
        std::size_t width; // characters, String only
        std::string name;  // UTF-8, as the rows spell it
        QString displayName;
    };

    // PacketReader.cpp: the packet around the rows.
    void readFields();
    void addField(std::string_view element);
    void readMetadataRest();
    void readParams();
    void indexFields();
    void startSecondHalf();
    void readRows();
    const char* splitPoint() const;
    void joinSecondHalf();
    void checkUpTo(const char* to);
    void moveOn();

    // PacketReaderRows.cpp: the rows.
    void scanRows();
    void readRow();
    bool readPlainRow();
    void reserveRows(std::size_t expected);
    void keepRow(RowData&& row, std::uint32_t state);
    void countRow(std::size_t bytes);
    bool eightDigitDate(const char*& p, std::int32_t& day);
    int fieldOf(std::string_view name, int hint) const;
    int matchStart(const char*& p, int hint) const;
    void readValue(char quote, std::string& out);
    std::string_view readValue(char quote);
    void setText(int field, char quote);
    void setScalar(int field, std::string_view text);

    const char* m_begin;
    // Text before this point is known to be well-formed UTF-8 (when checking; else the end).
    // Each reader checks its stretch a little ahead of the rows it reads.
    const char* m_checked;
    // A mapping's pages before m_released are given back.
    bool m_mapped;
    const char* m_released;
    const char* m_nextMove; // where the reader checks and gives back more (moveOn)
    std::size_t m_budget;
    std::size_t m_used = 0;
    std::int64_t m_idCeiling = 0; // one above the highest ID read

    // The second half of a large list's rows, read by a helper thread from m_stopAt on.
    const char* m_stopAt = nullptr;
    std::unique_ptr<PacketReader> m_second;
    std::thread m_helper;
    std::exception_ptr m_secondFailure;
    std::atomic<bool> m_stopSecond{false};
    const std::atomic<bool>* m_stop = nullptr; // (the second half's) the first gave up

    DataTable::Content m_content;
    std::vector<Slot> m_slots;
    int m_idField = -1; // the auto-increment field
    std::unordered_map<std::string_view, int> m_byName;
    QHash<QString, int> m_folded; // field names, case ignored, as the table looks them up
    std::string m_scratch;
    std::optional<RowBuilder> m_builder;
    std::optional<ArenaRowWriter> m_writer; // rows shown, laid out
    std::optional<ArenaRowWriter> m_packer; // versions not shown, packed
    std::vector<int> m_given;               // a plain row's fields, and where their values end
    std::vector<std::uint32_t> m_givenEnds;
    PacketFieldStarts m_starts;
    PacketFieldStarts::Start m_rowStateStart{"RowState"};
    // A list holds many dates of the same few days: their texts (as eight bytes) and days.
    struct DateSlot {
        std::uint64_t digits = 0;
        std::int32_t day = 0;
    };
    DateSlot m_dates[2048];
};
