# Merging two copies of a list, the sync tools' conflict copies beside a list file and the
# watcher of list files changed on disk.
target_sources(corvantis_core PRIVATE
    ConflictCopies.cpp ConflictCopies.h
    ListFileWatcher.cpp ListFileWatcher.h
    ListMerge.cpp ListMerge.h ListMergeOutline.cpp
    ListMergeHistory.cpp ListMergeHistory.h
    MergeConflict.h
)
