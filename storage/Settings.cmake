# The settings file with the category list, and the recent-lists store.
target_sources(corvantis_core PRIVATE
    CategoryList.cpp CategoryList.h
    CategorySettings.cpp CategorySettings.h
    IniFile.cpp IniFile.h
    RecentLists.cpp RecentLists.h
)
