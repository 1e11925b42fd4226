# The task-list view: painting rules, the grid, the bars and the links.
corvantis_test(tst_griddelegate gui)
corvantis_test(tst_taskview gui)
corvantis_test(tst_taskviewlinks gui)
