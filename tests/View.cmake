# The task-list view: painting rules, the grid, the bars and the links.
corvantis_test(tst_griddelegate gui)
corvantis_test(tst_taskview gui)
corvantis_test(tst_taskviewlinks gui)
# The list's history: undo and redo, the Task History and Deleted Tasks windows, the copy
# without history.
corvantis_test(tst_history gui)
