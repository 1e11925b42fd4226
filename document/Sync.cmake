# An open list as the calendar sync sees it (the sync engine itself is in sync/).
target_sources(corvantis_core PRIVATE
    DocumentSync.cpp DocumentSync.h
    TaskUids.cpp TaskUids.h
)
