# Import, batch insert with the Batch Import window, and the task report.
corvantis_test(tst_import core)
corvantis_test(tst_batchimport gui)
corvantis_test(tst_report gui)
