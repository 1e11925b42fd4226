# What keeps a list safe beyond its own saves: the fingerprint of its file and the recovery copies.
target_sources(corvantis_core PRIVATE
    FileFingerprint.cpp FileFingerprint.h
    RecoveryStore.cpp RecoveryStore.h
)
