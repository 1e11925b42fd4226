# Subtasks: the outline of a list's tasks, the commands that shape it and meet it, and the grid
# that shows it.
corvantis_test(tst_outline core)
corvantis_test(tst_outlineview gui)
