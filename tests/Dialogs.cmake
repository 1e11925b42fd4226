# The secondary windows and what the URL window makes of a fetched page.
corvantis_test(tst_extract core)
corvantis_test(tst_dialogs gui)
corvantis_test(tst_details gui)
corvantis_test(tst_urlwindow gui)
# The Repeat window, and a series made, completed, skipped and undone through the view.
corvantis_test(tst_repeat gui)
