target_sources(corvantis_core PRIVATE
    ListViews.cpp ListViews.h
    TaskCommands.cpp TaskCommands.h
)
