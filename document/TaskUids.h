#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

class DataTable;

// A task's identity on a calendar, the same in every copy of its list: the UID its Properties
// name, else one derived from what every copy holds of it, so that copies of one list that a
// synced folder or a merge carried between machines give one task one UID, however it reached
// them, and whether or not it was written in the task yet. Derived from the list's first version
// and the task's first version (TaskHistory::firstVersions; without its ID, which a merge may
// change), with its place among tasks that began with the same values.
//
// Worked out from the table as it stands when made; a table that gained history needs a new one.
class TaskUids {
public:
    explicit TaskUids(const DataTable& table);

    // The UID a stored version names in its Properties; empty when none.
    QString named(std::uint32_t version) const;
    // The UID a stored version's task derives.
    QString derived(std::uint32_t version) const;
    // named(), else derived().
    QString of(std::uint32_t version) const;
    // The first version of a stored version's task.
    std::uint32_t first(std::uint32_t version) const;

    // Whether it was made from the table as it stands now.
    bool fits(const DataTable& table) const;

private:
    const DataTable& m_table;
    std::size_t m_versions = 0;
    std::size_t m_entries = 0;
    QString m_list;                                    // of the list's first version
    std::vector<std::uint32_t> m_first;                // per version, its task's first version
    std::unordered_map<std::uint32_t, QString> m_task; // per first version
};
