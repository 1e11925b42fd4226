# Reminders of due tasks: the index, the rules, the log and the options; and the reminders
# through a real notification service on a private session bus (the test starts both itself).
corvantis_test(tst_reminders core)
corvantis_test(tst_reminderservice gui)
