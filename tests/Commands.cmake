corvantis_test(tst_taskcommands core)
corvantis_test(tst_listviews core)
corvantis_test(tst_taskhistory core)
