# The settings file, the category list, the recent-lists store and their windows.
corvantis_test(tst_inifile core)
corvantis_test(tst_categories gui)
corvantis_test(tst_recentlists core)
corvantis_test(tst_reopen gui)
