# The list file format: writer and reader rules, then files on disk (round trips, other
# programs' files, failed saves).
corvantis_test(tst_datapacket core)
corvantis_test(tst_datapacket_files core)
