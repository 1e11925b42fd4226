#include "bench/ListGenerator.h"

#include "model/DataTable.h"
#include "model/TaskRecord.h"

#include <QDate>
#include <QRandomGenerator>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace TaskRecord;

// Mostly plain words, some with the characters the file escapes, some beyond ASCII.
const char* const Words[] = {
    "Call",
    "the",
    "bank",
    "about",
    "mortgage",
    "renewal",
    "Buy",
    "milk",
    "&",
    "bread",
    "for",
    "Ed's",
    "party",
    "<urgent>",
    "check",
    "\"quoted\"",
    "report",
    "Q3",
    "caf\xC3\xA9",
    "M\xC3\xBCller",
    "na\xC3\xAFve",
    "r\xC3\xA9sum\xC3\xA9",
    "\xE6\x97\xA5\xE6\x9C\xAC",
    "t\xC3\xA2\x63he",
    "Stra\xC3\x9F\x65",
    "\xE2\x86\x92",
    "invoice",
    "dentist",
    "garden",
    "release",
    "notes",
    "review",
    "budget",
    "2025",
    "meeting",
    "with",
    "team",
    "plan",
    "fix",
    "login",
    "bug",
    "a>b",
    "draft",
    "email",
    "to",
    "send",
    "pick",
    "up",
    "car",
    "insurance",
    "call",
    "back",
    "prepare",
    "slides",
    "order",
    "new",
    "printer",
    "ink",
    "tax",
    "return",
    "book",
    "flights",
    "update",
    "website",
    "clean",
    "kitchen",
    "renew",
    "passport",
    "write",
    "minutes",
    "of",
    "and",
    "on",
    "Monday",
    "Friday",
};
const char* const Names[] = {"ana", "bob", "chlo\xC3\xA9", "dmitri", "eve", "fran\xC3\xA7ois"};
const char* const Categories[] = {"Home", "Work", "Shopping", "Health", "Finance", "Garden"};
const char* const Priorities[] = {"Normal", "High", "Urgent", "Low"};
const char* const Difficulties[] = {"Easy", "Moderate", "Hard", "Normal"};

// The current values of one task; an edit changes some of them and stores a new version.
const char* const Rules[] = {
    "FREQ=DAILY",
    "FREQ=WEEKLY;BYDAY=MO,TH",
    "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR",
    "FREQ=WEEKLY;INTERVAL=2",
    "FREQ=MONTHLY;BYDAY=-1FR;COUNT=12",
    "FREQ=MONTHLY;BYMONTHDAY=15",
    "FREQ=YEARLY;UNTIL=20301231",
    "FREQ=DAILY;INTERVAL=3\r\nREPEAT-FROM=COMPLETION",
};

struct Task {
    std::int32_t id = 0;
    std::string task, status, priority, difficulty, assignedTo, comments, owner, details, category,
        relatedFile, linkedList, properties, url;
    std::int32_t progress = 0, created = 0, completed = -1, lastActioned = -1, start = -1, due = -1,
                 time = -1, parent = -1, group = -1, points = -1;
    bool bookmarked = false;
    std::int32_t version = -1; // current version
};

class Generator {
public:
    Generator(quint32 seed, int repeatEvery, ListGenerator::Shape shape)
        : m_rng(seed), m_outlineRng(seed + 1), m_shape(shape), m_repeatEvery(repeatEvery) {}

    void run(DataTable& table, int count);

private:
    int pick(int n) { return int(m_rng.bounded(n)); }
    bool chance(int percent) { return pick(100) < percent; }

    std::string text(int low, int high) {
        const int length = low + pick(high - low + 1);
        std::string s;
        while (int(s.size()) < length) {
            if (!s.empty())
                s += chance(1) ? '\t' : ' ';
            s += Words[pick(int(std::size(Words)))];
        }
        // Cut back to the length, on a character boundary.
        std::size_t cut = std::size_t(length);
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
            --cut;
        s.resize(cut);
        return s;
    }

    std::string details() {
        std::string s;
        const int lines = 2 + pick(5);
        for (int i = 0; i < lines; ++i) {
            if (i > 0)
                s += "\r\n";
            if (chance(30))
                s += '\t';
            s += text(20, 70);
        }
        return s;
    }

    void create(Task& t, std::int32_t id, std::int32_t day) {
        t.id = id;
        t.task = text(20, 120);
        t.status = NotStarted.toStdString();
        t.priority = Priorities[pick(4)];
        t.difficulty = Difficulties[pick(4)];
        t.created = day;
        t.owner = Names[pick(int(std::size(Names)))];
        t.bookmarked = chance(10);
        if (chance(30))
            t.assignedTo = Names[pick(int(std::size(Names)))];
        if (chance(30))
            t.comments = text(10, 60);
        if (chance(25))
            t.details = details();
        if (chance(60))
            t.category = Categories[pick(int(std::size(Categories)))];
        if (chance(10))
            t.relatedFile =
                "C:\\Users\\" + t.owner + "\\Documents\\file" + std::to_string(id) + ".docx";
        if (chance(5))
            t.linkedList =
                "/home/" + t.owner + "/lists/Project " + std::to_string(pick(20)) + ".cv1";
        if (chance(10))
            t.url = "https://example.org/tasks?id=" + std::to_string(id) + "&view=full";
        if (chance(40))
            t.due = day + 3 + pick(60);
        if (chance(50))
            t.start = day + pick(10);
        if (chance(30))
            t.time = 15 * (1 + pick(16));
        // (The draws stay as they were, so a flat list holds the tasks it always held.)
        if (chance(10) && id > 1)
            t.parent = 1 + pick(id - 1);
        t.parent = m_shape == ListGenerator::Shape::Outline ? outlineParent(id) : -1;
        if (chance(20))
            t.group = pick(10);
        if (chance(20))
            t.points = pick(100);
        // Drawn only for these tasks: without them a seed makes the list it always made.
        if (m_repeatEvery > 0 && id % m_repeatEvery == 0) {
            t.properties = std::string("RRULE=") + Rules[pick(int(std::size(Rules)))];
            if (t.due < 0)
                t.due = day + pick(30);
        }
    }

    void edit(Task& t, std::int32_t day) {
        t.lastActioned = day;
        switch (pick(6)) {
        case 0:
            t.task = text(20, 120);
            break;
        case 1:
            t.comments = text(10, 60);
            break;
        case 2:
            t.details = t.details.empty() ? details() : t.details + "\r\n" + text(20, 70);
            break;
        default:
            t.progress = std::min(100, t.progress + 10 + pick(40));
            t.status = t.progress >= 100 ? Complete.toStdString() : InProgress.toStdString();
            if (t.progress >= 100)
                t.completed = day;
        }
        if (chance(5))
            t.status = chance(50) ? Paused.toStdString() : Cancelled.toStdString();
        if (chance(10))
            t.bookmarked = !t.bookmarked;
    }

    RowData row(const Task& t) {
        // Field numbers of the task record; empty texts and negative numbers stay empty.
        static const std::pair<int, std::string Task::*> texts[] = {
            {1, &Task::task},         {2, &Task::status},      {3, &Task::priority},
            {5, &Task::difficulty},   {13, &Task::assignedTo}, {16, &Task::comments},
            {17, &Task::owner},       {18, &Task::details},    {19, &Task::category},
            {20, &Task::relatedFile}, {21, &Task::linkedList}, {22, &Task::properties},
            {24, &Task::url},
        };
        static const std::pair<int, std::int32_t Task::*> numbers[] = {
            {0, &Task::id},        {4, &Task::progress},     {6, &Task::created},
            {7, &Task::completed}, {8, &Task::lastActioned}, {9, &Task::start},
            {10, &Task::time},     {11, &Task::parent},      {14, &Task::due},
            {15, &Task::group},    {23, &Task::points},
        };
        m_builder.reset();
        for (const auto& [field, member] : texts)
            if (!(t.*member).empty())
                m_builder.setBytes(field, t.*member);
        for (const auto& [field, member] : numbers)
            if (t.*member >= 0)
                m_builder.setInt32(field, t.*member);
        m_builder.setBool(12, t.bookmarked);
        return m_builder.build();
    }

    // A fifth of the tasks go under a task added before them that is never deleted and stands
    // at most five levels down (drawn apart from the tasks' own values).
    std::int32_t outlineParent(std::int32_t id) {
        if (m_depth.size() < std::size_t(id) + 1)
            m_depth.resize(std::size_t(id) + 1, 0);
        std::int32_t parent = -1;
        if (!m_parents.empty() && m_outlineRng.bounded(100) < 20) {
            parent = m_parents[m_outlineRng.bounded(std::uint32_t(m_parents.size()))];
            m_depth[std::size_t(id)] = m_depth[std::size_t(parent)] + 1;
        }
        if (!m_deleted[std::size_t(id - 1)] && m_depth[std::size_t(id)] < 5)
            m_parents.push_back(id);
        return parent;
    }

    QRandomGenerator m_rng;
    QRandomGenerator m_outlineRng;
    ListGenerator::Shape m_shape;
    int m_repeatEvery;
    std::vector<char> m_deleted; // per task, by ID less one
    std::vector<std::int32_t> m_parents;
    std::vector<int> m_depth;
    RowBuilder m_builder{25};
};

void Generator::run(DataTable& table, int count) {
    // The life of the list as a time line: task i is added at time i, its edits follow within a
    // few thousand later additions, and a deletion, if any, comes after its last edit.
    struct Event {
        double at;
        std::int32_t task;
        int kind; // 0 add, 1 edit, 2 delete
    };
    std::vector<Event> events;
    events.reserve(std::size_t(count) * 4);
    for (int i = 0; i < count; ++i) {
        events.push_back({double(i), i, 0});
        const int edits = pick(100) < 25 ? 0 : 1 + pick(4); // one to five versions
        double at = i;
        for (int e = 0; e < edits; ++e) {
            at += 1 + pick(2000) + m_rng.generateDouble();
            events.push_back({at, i, 1});
        }
        if (chance(6))
            events.push_back({at + 1 + pick(500) + m_rng.generateDouble(), i, 2});
    }
    m_deleted.assign(std::size_t(count), 0);
    for (const Event& e : events)
        if (e.kind == 2)
            m_deleted[std::size_t(e.task)] = 1;
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });

    DataTable::Content content;
    content.fields = TaskRecord::Fields();
    content.fields[0].flags |= FieldReadOnly;
    std::vector<Task> tasks(std::size_t(count), Task{});
    const std::int32_t firstDay = std::int32_t(QDate(2023, 1, 2).toJulianDay());
    const double perDay = std::max(1.0, count / 700.0);
    for (const Event& e : events) {
        Task& t = tasks[std::size_t(e.task)];
        const auto day = firstDay + std::int32_t(e.at / perDay);
        const auto version = std::uint32_t(content.versions.size());
        if (e.kind == 0) {
            create(t, e.task + 1, day);
            content.versions.push_back(row(t));
            content.states.push_back(DataTable::Inserted);
            content.changeLog.insert(content.changeLog.end(),
                                     {version + 1, 0, DataTable::Inserted});
            t.version = std::int32_t(version);
        } else if (e.kind == 1) {
            edit(t, day);
            content.states[std::size_t(t.version)] |= DataTable::Superseded;
            content.versions.push_back(row(t));
            content.states.push_back(DataTable::Modified | DataTable::Inserted);
            content.changeLog.insert(
                content.changeLog.end(),
                {version + 1, std::uint32_t(t.version + 1), DataTable::Modified});
            t.version = std::int32_t(version);
        } else {
            content.states[std::size_t(t.version)] |= DataTable::Deleted;
            content.changeLog.insert(content.changeLog.end(),
                                     {std::uint32_t(t.version + 1), 0, DataTable::Deleted});
        }
    }
    content.autoIncValue = count + 1;
    table.adopt(std::move(content));
}

} // namespace

namespace ListGenerator {

void Generate(DataTable& table, int tasks, quint32 seed, int repeatEvery, Shape shape) {
    Generator(seed, repeatEvery, shape).run(table, tasks);
}

} // namespace ListGenerator
