# Calendar sync: the CalDAV client against real servers started by the test (Radicale, Xandikos)
# and a scripted loopback server for the failures no real server gives on demand.
corvantis_test(tst_caldav core)
