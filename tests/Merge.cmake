# Merging two copies of a list: the engine on real diverged files, the sync tools' conflict
# copies, the watcher of list files, and the conflicts window.
corvantis_test(tst_listmerge core)
corvantis_test(tst_syncedfiles core)
corvantis_test(tst_merge gui)
# The same through the main window: the Save question, the watched file, conflict copies.
corvantis_test(tst_mergeflows gui)
