# The list file format: writer and reader rules, round trips, other programs' files and files
# on disk (failed saves and loads), and the reader against a reference reader.
corvantis_test(tst_datapacket core support/ReferencePacketReader.cpp)
# Files built to hurt the reader, each loaded in a child process of its own.
corvantis_test(tst_hostilefiles core support/ReferencePacketReader.cpp)
# Saving killed at random moments, without helper threads, and the rows' file order.
corvantis_test(tst_savesafety core)
