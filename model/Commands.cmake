target_sources(corvantis_core PRIVATE
    ListViews.cpp ListViews.h
    RepeatCommands.cpp
    TaskCommands.cpp TaskCommands.h
)
