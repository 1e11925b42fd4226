corvantis_test(tst_taskcommands core)
corvantis_test(tst_listviews core)
corvantis_test(tst_taskhistory core)
# Tasks that repeat: their rules, Complete and Skip, the Repeat column and the merge of Properties.
corvantis_test(tst_recurrence core)
