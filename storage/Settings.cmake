# The settings file with the category list, the recent-lists store and their windows.
target_sources(corvantis_core PRIVATE
    CategorySettings.cpp CategorySettings.h
    IniFile.cpp IniFile.h
    RecentLists.cpp RecentLists.h
)
target_sources(corvantis_gui PRIVATE
    uFrmCategories.cpp uFrmCategories.h
    ufrmReOpen.cpp ufrmReOpen.h
)
