#Import of another list file and batch insert of pasted lines, with the Batch Import window.
target_sources(corvantis_core PRIVATE Import.cpp Import.h)
    target_sources(corvantis_gui PRIVATE uFrmBatchImport.cpp uFrmBatchImport.h)
