# The list file format: writer and reader rules, round trips, other programs' files and files
# on disk (failed saves and loads).
corvantis_test(tst_datapacket core)
# Files built to hurt the reader, each loaded in a child process of its own.
corvantis_test(tst_hostilefiles core)
# Saving killed at random moments, without helper threads, and the rows' file order.
corvantis_test(tst_savesafety core)
