# Tasks as iCalendar to-dos: the mapping, calendar files and their import; the export through
# the main window.
corvantis_test(tst_calendar core)
corvantis_test(tst_calendarexport gui)
