# Import of another list file and batch insert of pasted lines.
target_sources(corvantis_core PRIVATE Import.cpp Import.h)
