target_sources(corvantis_core PRIVATE
    ListViews.cpp ListViews.h
    OutlineCommands.cpp OutlineCommands.h
    RepeatCommands.cpp
    TaskCommands.cpp TaskCommands.h
)
