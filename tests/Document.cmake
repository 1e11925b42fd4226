# An open list as a document, with no window.
corvantis_test(tst_listdocument core)
