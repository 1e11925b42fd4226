#pragma once

#include <cstddef>
#include <vector>

// The three-way rule for one task's fields, shared by a merge of two copies of a list
// (document/ListMerge) and by the calendar sync (sync/CalDavSync), so both ask about the same
// things: a field changed on one side only takes that side's value, the same change on both
// sides is no conflict, different changes on both sides are.
namespace ListMerge {

// Where a field's merged value comes from.
enum class Take { Mine, Theirs, Conflict };
inline Take MergeField(bool mineChanged, bool theirsChanged, bool sameChange) {
    if (!theirsChanged || sameChange)
        return Take::Mine;
    return mineChanged ? Take::Conflict : Take::Theirs;
}

// A task's values merged field by field against their values at a common point (for a list
// merge, the version the copies share; for a calendar sync, the values of the last sync). A
// conflicting field keeps mine's value until a choice is made.
template <class Value> struct FieldMerge {
    std::vector<Value> merged;
    std::vector<int> conflicts; // field indexes, ascending
};
template <class Value>
FieldMerge<Value> MergeFields(const std::vector<Value>& base, const std::vector<Value>& mine,
                              const std::vector<Value>& theirs) {
    FieldMerge<Value> result;
    result.merged = mine;
    for (std::size_t f = 0; f < mine.size() && f < base.size() && f < theirs.size(); ++f) {
        switch (MergeField(!(mine[f] == base[f]), !(theirs[f] == base[f]), mine[f] == theirs[f])) {
        case Take::Mine:
            break;
        case Take::Theirs:
            result.merged[f] = theirs[f];
            break;
        case Take::Conflict:
            result.conflicts.push_back(static_cast<int>(f));
            break;
        }
    }
    return result;
}

} // namespace ListMerge
