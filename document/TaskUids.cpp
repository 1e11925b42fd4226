#include "document/TaskUids.h"

#include "calendar/VTodoMapping.h"
#include "model/DataTable.h"
#include "model/TaskHistory.h"
#include "model/TaskRecord.h"

#include <QCryptographicHash>
#include <QHash>

#include <string_view>

TaskUids::TaskUids(const DataTable& table)
    : m_table(table), m_versions(table.versionCount()), m_entries(table.changeLog().size() / 3) {
    const int id = table.autoIncField();
    const auto hashOf = [&](std::size_t version, bool withId) {
        QCryptographicHash hash(QCryptographicHash::Sha1);
        table.forEachValueOf(version, [&](int field, std::string_view bytes) {
            // An empty text is no value: a copy read from the list's file holds none there.
            if ((field == id && !withId) || bytes.empty())
                return;
            hash.addData(QByteArray::number(field) + ':' +
                         QByteArray::number(qsizetype(bytes.size())) + ':');
            hash.addData(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        });
        return QString::fromLatin1(hash.result().toHex());
    };
    if (m_versions > 0)
        m_list = hashOf(0, true);
    m_first = TaskHistory::firstVersions(table);
    QHash<QString, int> seen;
    for (std::size_t v = 0; v < m_first.size(); ++v) {
        if (m_first[v] != v)
            continue;
        const QString values = hashOf(v, false);
        const int place = seen.value(values, 0);
        seen.insert(values, place + 1);
        m_task.emplace(std::uint32_t(v),
                       place == 0 ? values : values + u'#' + QString::number(place));
    }
}

bool TaskUids::fits(const DataTable& table) const {
    return &table == &m_table && table.versionCount() == m_versions &&
           table.changeLog().size() / 3 == m_entries;
}

std::uint32_t TaskUids::first(std::uint32_t version) const {
    return version < m_first.size() ? m_first[version] : version;
}

QString TaskUids::named(std::uint32_t version) const {
    const int properties = m_table.fieldIndex(TaskRecord::Properties);
    if (properties < 0 || version >= m_versions)
        return QString();
    return VTodoMapping::UidOf(m_table.textOf(m_table.versionData(version), properties));
}

QString TaskUids::derived(std::uint32_t version) const {
    const auto task = m_task.find(first(version));
    if (task == m_task.end())
        return VTodoMapping::DerivedUid(QString(), 0); // not a version of this table: random
    return VTodoMapping::DerivedUid(m_list, task->second);
}

QString TaskUids::of(std::uint32_t version) const {
    const QString uid = named(version);
    return uid.isEmpty() ? derived(version) : uid;
}
