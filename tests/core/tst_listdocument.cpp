#include "base/TextLines.h"
#include "document/ListDocument.h"
#include "document/ListRecovery.h"
#include "document/TaskUndo.h"
#include "model/DataTable.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"
#include "storage/DataPacket.h"
#include "storage/RecoveryStore.h"
#include "support/FileBytes.h"
#include "support/PipeReleaser.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// A list document driven as the windows drive it, with no display: open, edit, undo, save, a
// file changed behind its back, and the recovery copy of its unsaved changes.
class TestListDocument : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        PinLocaleAndClock();
        qputenv("XDG_DATA_HOME", m_folder.filePath(QStringLiteral("data")).toUtf8());
    }

    void lifeOfAList() {
        const QString file = m_folder.filePath(QStringLiteral("Week.cv1"));
        {
            ListDocument made;
            made.setCaption(QStringLiteral("New"));
            made.createNew();
            QVERIFY(made.isNew() && made.isUnsaved());
            QCOMPARE(made.caption(), QStringLiteral("New *"));
            addTask(made, QStringLiteral("alpha"));
            made.save(file, true);
            QCOMPARE(made.caption(), QStringLiteral("Week"));
            QCOMPARE(made.fileName(), file);
        }

        ListDocument list;
        list.setCaption(uGeneral::CaptionFromFileName(file));
        QSignalSpy unsaved(&list, &ListDocument::unsavedChanged);
        QVERIFY(list.load(file));
        QVERIFY(!list.isUnsaved() && !list.isNew());
        QCOMPARE(list.table()->recordCount(), 1);

        addTask(list, QStringLiteral("bravo"));
        QCOMPARE(list.caption(), QStringLiteral("Week *"));
        QCOMPARE(unsaved.count(), 1);
        list.undo()->undo();
        QCOMPARE(list.table()->recordCount(), 1);
        list.undo()->redo();
        QCOMPARE(list.table()->recordCount(), 2);

        QVERIFY(!list.changedOnDisk(file));
        list.save(file, true);
        QVERIFY(!list.isUnsaved());
        QCOMPARE(list.caption(), QStringLiteral("Week"));
        QCOMPARE(unsaved.count(), 2);

        // Another program writes the file: the next save over it is to be asked about, a save
        // elsewhere is not.
        QTest::qSleep(10);
        QVERIFY(WriteFileBytes(file, ReadFileBytes(file)));
        QVERIFY(list.changedOnDisk(file));
        QVERIFY(!list.changedOnDisk(m_folder.filePath(QStringLiteral("Other.cv1"))));
        list.save(file, true);
        QVERIFY(!list.changedOnDisk(file));

        QVERIFY(!ListDocument().load(m_folder.filePath(QStringLiteral("missing.cv1"))));
    }

    void recoveryCopy() {
        const QString file = m_folder.filePath(QStringLiteral("Home.cv1"));
        {
            ListDocument made;
            made.createNew();
            addTask(made, QStringLiteral("alpha"));
            made.save(file, true);
        }
        ListRecovery::setDelayForTesting(0);
        const QString root = m_folder.filePath(QStringLiteral("recovery"));
        ListRecovery recovery(root);
        ListDocument list;
        QVERIFY(list.load(file));
        recovery.follow(&list);
        addTask(list, QStringLiteral("bravo"));
        QTRY_VERIFY(!copies(root).isEmpty());

        list.save(file, true);
        QTRY_VERIFY(copies(root).isEmpty()); // a saved list needs no copy

        addTask(list, QStringLiteral("charlie"));
        QTRY_VERIFY(!copies(root).isEmpty());
        // What a program that did not end normally left comes back unsaved, under its file.
        ListDocument recovered;
        recovered.loadRecovered(copies(root).first(), file, false, list.fileOnDisk());
        QVERIFY(recovered.isUnsaved());
        QCOMPARE(recovered.fileName(), file);
        QCOMPARE(recovered.table()->recordCount(), 3);
        QVERIFY(!recovered.changedOnDisk(file));

        // A task still being typed is in the copy, though the list has not posted it.
        list.table()->append();
        list.table()->setString(TaskRecord::Task, QStringLiteral("delta"));
        QTRY_COMPARE(recoveredTasks(copies(root).first(), file), 4);
        QVERIFY(list.table()->isEditing());
        recovery.endNormally();
    }

    // Copies tell what the user is writing: no other user may read them or their notes, not
    // even for a moment, nor list their folders.
    void recoveryCopiesAreTheUsersAlone() {
        const mode_t before = ::umask(022);
        ListRecovery::setDelayForTesting(0);
        const QString root = m_folder.filePath(QStringLiteral("private/recovery"));
        ListRecovery recovery(root);
        ListDocument list;
        list.createNew();
        recovery.follow(&list);
        addTask(list, QStringLiteral("secret"));
        QTRY_VERIFY(!copies(root).isEmpty());
        const QString copy = copies(root).first();
        const QString note = copy.chopped(4) + QStringLiteral(".note");
        for (const QString& path : {root, QFileInfo(copy).path(), copy, note})
            QCOMPARE(modeOf(path), QFileInfo(path).isDir() ? 0700 : 0600);
        recovery.endNormally();
        ::umask(before);
    }

    // A note that does not vouch for the file it names directs no silent overwrite.
    void recoveredFromANote_data() {
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("error");
        QTest::newRow("no fingerprint: a save asks") << "Week.cv1" << QString();
        QTest::newRow("relative path: refused")
            << "./Week.cv1"
            << "Its note names the list file \"./Week.cv1\" without its folder.";
    }
    void recoveredFromANote() {
        QFETCH(QString, original);
        QFETCH(QString, error);
        const QString file = makeList(QStringLiteral("Week.cv1"), {"alpha"});
        const QString named = error.isEmpty() ? file : original;
        ListDocument recovered;
        QCOMPARE(errorOf([&] { recovered.loadRecovered(file, named, false, {}); }), error);
        QCOMPARE(recovered.changedOnDisk(named), error.isEmpty());
    }

    // The lists of a program that did not end normally come back in the order it had them.
    void recoveredListsKeepTheirOrder() {
        ListRecovery::setDelayForTesting(0);
        const QString root = m_folder.filePath(QStringLiteral("ordered"));
        const QStringList files{m_folder.filePath(QStringLiteral("C.cv1")),
                                m_folder.filePath(QStringLiteral("A.cv1")),
                                m_folder.filePath(QStringLiteral("B.cv1"))};
        {
            ListRecovery crashed(root);
            std::vector<std::unique_ptr<ListDocument>> lists;
            for (const QString& file : files) {
                lists.push_back(std::make_unique<ListDocument>());
                QVERIFY(lists.back()->load(makeList(QFileInfo(file).fileName(), {"x"})));
                crashed.follow(lists.back().get());
                addTask(*lists.back(), QStringLiteral("unsaved"));
            }
            QTRY_COMPARE(copies(root).size(), 3);
        } // no normal end: the copies stay
        QStringList order;
        RecoveryStore next(root);
        for (const RecoveryStore::Left& left : next.takeOver())
            order << left.note.originalFile;
        QCOMPARE(order, files);
        next.close();
    }

    // A pipe where a note should be neither holds up the start nor travels to the next session:
    // the copy beside it comes back as a copy without its note.
    void recoveryNoteIsAPipe() {
        const QString root = m_folder.filePath(QStringLiteral("piped"));
        const QString left = root + QStringLiteral("/left-by-a-crash");
        QVERIFY(QDir().mkpath(left));
        QVERIFY(QFile::copy(makeList(QStringLiteral("Piped.cv1"), {"x"}), left + "/a.cv1"));
        QCOMPARE(::mkfifo(QFile::encodeName(left + "/a.note").constData(), 0600), 0);
        RecoveryStore store(root);
        QList<RecoveryStore::Left> found;
        {
            const PipeReleaser releaser = PipeReleaser::inFolder(root);
            found = store.takeOver();
            QVERIFY2(!releaser.released(), "the start waits on a pipe");
        }
        QCOMPARE(found.size(), 1);
        QVERIFY(!found.first().noteRead);
        const QDir session = QFileInfo(found.first().copyFile).dir();
        QCOMPARE(session.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot),
                 QStringList{"a.cv1"});
        store.close();
    }

    // Another program saved its copy over the list's file: merging that file brings its changes
    // in as one undo step, the list is unsaved, and a save over the file asks no more.
    void mergeTheFileOnDisk() {
        const QString file = makeList(QStringLiteral("Shared.cv1"), {"alpha", "bravo"});
        ListDocument mine, theirs;
        QVERIFY(mine.load(file) && theirs.load(file));
        addTask(mine, QStringLiteral("mine"));
        addTask(theirs, QStringLiteral("theirs"));
        theirs.save(file, true);
        QVERIFY(mine.changedOnDisk(file));

        const ListDocument::PreparedMerge prepared = mine.prepareMerge(file);
        QVERIFY(prepared.plan.conflicts.empty());
        const int steps = mine.undo()->count();
        QCOMPARE(mine.applyMerge(prepared, {}).added, 1);
        QCOMPARE(tasks(mine), QStringList({"alpha", "bravo", "mine", "theirs"}));
        QCOMPARE(mine.undo()->count(), steps + 1);
        QCOMPARE(mine.undo()->undoText(), QStringLiteral("Merge"));
        QVERIFY(mine.isUnsaved() && !mine.changedOnDisk(file));
        mine.undo()->undo();
        QCOMPARE(tasks(mine), QStringList({"alpha", "bravo", "mine"}));

        const QString stranger = makeList(QStringLiteral("Stranger.cv1"), {"x"});
        QCOMPARE(errorOf([&] { mine.prepareMerge(stranger); }),
                 QStringLiteral("Stranger.cv1 is not a copy of this list."));
    }

    // The file read again keeps how the list is shown; a file that cannot be read leaves it.
    void reloadTheFileOnDisk() {
        const QString file = makeList(QStringLiteral("Reread.cv1"), {"charlie", "alpha"});
        ListDocument list, other;
        QVERIFY(list.load(file) && other.load(file));
        list.table()->setIndexName(TaskTable::IndexTaskName);
        list.table()->setFilter(QStringLiteral("Task <> 'alpha'"));
        list.table()->setFiltered(true);
        addTask(other, QStringLiteral("bravo"));
        other.save(file, true);

        list.reload();
        QCOMPARE(shown(list), QStringList({"bravo", "charlie"}));
        QVERIFY(!list.isUnsaved() && !list.changedOnDisk(file) && !list.undo()->canUndo());

        QVERIFY(WriteFileBytes(file, "not a list"));
        QVERIFY(!errorOf([&] { list.reload(); }).isEmpty());
        QCOMPARE(shown(list), QStringList({"bravo", "charlie"}));
        QVERIFY(list.changedOnDisk(file));
    }

    // Undone or redone back to what it last saved, a list is saved again; elsewhere it is not.
    void backAtItsSavedState_data() {
        QTest::addColumn<QString>("steps"); // "add X", "undo", "redo", "save", "merge", "new"
        QTest::addColumn<bool>("unsaved");
        QTest::newRow("add, undo") << "add b;undo" << false;
        QTest::newRow("add, undo, redo") << "add b;undo;redo" << true;
        QTest::newRow("saved, add, undo") << "add b;save;add c;undo" << false;
        QTest::newRow("saved, undo") << "add b;save;undo" << true;
        QTest::newRow("saved, undo, redo") << "add b;save;undo;redo" << false;
        QTest::newRow("undo, another step, undo") << "add b;undo;add c;undo" << false;
        QTest::newRow("saved state undone and left") << "add b;save;undo;add c;undo" << true;
        QTest::newRow("its file merged, undone") << "merge;undo" << true;
        QTest::newRow("never saved") << "new;add b;undo" << true;
    }
    void backAtItsSavedState() {
        QFETCH(QString, steps);
        QFETCH(bool, unsaved);
        const QString file = makeList(QStringLiteral("Back.cv1"), {"a"});
        ListDocument list;
        list.setCaption(QStringLiteral("Back"));
        QVERIFY(list.load(file));
        for (const QString& step : steps.split(u';')) {
            if (step == u"new") {
                list.createNew();
            } else if (step.startsWith(QStringLiteral("add "))) {
                addTask(list, step.mid(4));
            } else if (step == u"undo" || step == u"redo") {
                list.replayStep(step == u"redo");
            } else if (step == u"save") {
                list.save(file, true);
            } else if (step == u"merge") {
                ListDocument elsewhere;
                QVERIFY(elsewhere.load(file));
                addTask(elsewhere, QStringLiteral("x"));
                elsewhere.save(file, true);
                list.applyMerge(list.prepareMerge(file), {});
            }
        }
        QCOMPARE(list.isUnsaved(), unsaved);
        QCOMPARE(list.caption(), unsaved ? QStringLiteral("Back *") : QStringLiteral("Back"));
    }

    // Random edits, undos, redos and saves: a list shown as saved holds what its file holds, and
    // no save writes fewer versions than the file held.
    void savedNeverHidesAChange() {
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        const QString file = makeList(QStringLiteral("Random.cv1"), {"a", "b"});
        ListDocument list;
        QVERIFY(list.load(file));
        DataTable* table = list.table();
        std::size_t versions = table->versionCount();
        for (int round = 0; round < 400; ++round) {
            const int what = int(random.bounded(6));
            const QString text = QString::number(round);
            if (what == 0 || table->recordCount() == 0) {
                addTask(list, text);
            } else if (what == 1 || what == 2) {
                const TaskUndo::Step step(*list.undo());
                table->moveToPosition(int(random.bounded(table->recordCount())));
                if (what == 1) {
                    table->edit();
                    table->setString(TaskRecord::Task, text);
                    table->post();
                } else {
                    table->remove();
                }
                list.markUnsaved();
            } else if (what == 3 || what == 4) {
                list.replayStep(what == 4);
            } else {
                list.save(file, true);
                DataTable saved;
                DataPacket::LoadFromFile(saved, file);
                QVERIFY2(saved.versionCount() >= versions, qPrintable(QString::number(seed)));
                versions = saved.versionCount();
            }
            if (!list.isUnsaved()) {
                ListDocument onDisk;
                QVERIFY(onDisk.load(file));
                QVERIFY2(shown(list) == shown(onDisk),
                         qPrintable(QStringLiteral("seed %1, round %2").arg(seed).arg(round)));
            }
        }
    }

    // A list read again after another program saved it keeps every version and deletion of its
    // history: the next save writes them all, and no save ever writes less than the file held.
    void reloadKeepsTheHistory() {
        const QString file = makeList(QStringLiteral("Long.cv1"), {"alpha", "bravo", "charlie"});
        ListDocument list, other;
        QVERIFY(list.load(file) && other.load(file));
        editTask(other, 0, QStringLiteral("alpha 2"));
        editTask(other, 0, QStringLiteral("alpha 3"));
        other.table()->goToRow(other.table()->naturalOrder().at(1));
        other.table()->remove();
        other.save(file, true);

        list.reload();
        editTask(list, 0, QStringLiteral("alpha 4"));
        const QByteArray before = ReadFileBytes(file);
        const QString error = errorOf([&] { list.save(file, true); });
        if (!error.isEmpty()) // refused: nothing written
            QCOMPARE(ReadFileBytes(file), before);
        QCOMPARE(error, QString());

        ListDocument saved;
        QVERIFY(saved.load(file));
        const DataTable& was = *other.table();
        QCOMPARE(saved.table()->versionCount(), was.versionCount() + 1);
        QCOMPARE(saved.table()->changeLog().size(), was.changeLog().size() + 3);
        for (std::size_t v = 0; v < was.versionCount(); ++v)
            QVERIFY2(ListMerge::SameValues(saved.table()->versionData(v), was.versionData(v)),
                     qPrintable(QString::number(v)));
    }

    // The guard itself: a table that lost versions behind the document's back is not written.
    void saveRefusesAShorterHistory() {
        const QString file = makeList(QStringLiteral("Guarded.cv1"), {"alpha", "bravo"});
        ListDocument list;
        QVERIFY(list.load(file));
        editTask(list, 0, QStringLiteral("alpha 2"));
        DataTable::Content content = TaskHistory::withoutHistory(*list.table());
        list.table()->adopt(std::move(content));
        const QByteArray before = ReadFileBytes(file);
        QVERIFY(errorOf([&] { list.save(file, true); }).startsWith(QStringLiteral("Internal")));
        QCOMPARE(ReadFileBytes(file), before);
    }

private:
    static void editTask(ListDocument& list, int natural, const QString& task) {
        list.table()->goToRow(list.table()->naturalOrder().at(std::size_t(natural)));
        list.table()->edit();
        list.table()->setString(TaskRecord::Task, task);
        list.table()->post();
    }
    QString makeList(const QString& name, const QStringList& tasks) {
        const QString file = m_folder.filePath(name);
        ListDocument made;
        made.createNew();
        for (const QString& task : tasks)
            addTask(made, task);
        made.save(file, true);
        return file;
    }
    static QStringList shown(const ListDocument& list) {
        QStringList found;
        for (int at = 0; at < list.table()->recordCount(); ++at)
            found << list.table()->textOf(list.table()->rowDataAt(at),
                                          list.table()->fieldIndex(TaskRecord::Task));
        return found;
    }
    static QStringList tasks(const ListDocument& list) {
        QStringList found;
        for (DataTable::RowId row : list.table()->naturalOrder())
            found << list.table()->textOf(list.table()->rowData(row),
                                          list.table()->fieldIndex(TaskRecord::Task));
        return found;
    }
    static void addTask(ListDocument& list, const QString& task) {
        const TaskUndo::Step step(*list.undo());
        list.table()->append();
        list.table()->setString(TaskRecord::Task, task);
        list.table()->post();
    }
    static int recoveredTasks(const QString& copy, const QString& file) {
        ListDocument recovered;
        recovered.loadRecovered(copy, file, false, {});
        return recovered.table()->recordCount();
    }
    static int modeOf(const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }
    static QStringList copies(const QString& root) {
        QStringList found;
        for (const QFileInfo& session : QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QFileInfo& copy :
                 QDir(session.filePath()).entryInfoList({QStringLiteral("*.cv1")}, QDir::Files))
                found << copy.filePath();
        return found;
    }

    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestListDocument)
#include "tst_listdocument.moc"
