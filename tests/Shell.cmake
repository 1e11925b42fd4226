# The main window, the start-up and the task-list view.
corvantis_test(tst_taskgridmodel gui)
corvantis_test(tst_mainwindow gui)
corvantis_test(tst_startupfiles gui)
corvantis_test(tst_failedsaves gui)
corvantis_test(tst_keepwork gui)
# Every window's texts fit their places, in the interface face and a wider one.
corvantis_test(tst_textfit gui)
# Every window reads in a light and a dark desktop palette.
corvantis_test(tst_themes gui)
