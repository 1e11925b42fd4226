// The UID of a task: the line of its Properties that names it, and the UIDs derived from a list
// and a task's ID.
#include "calendar/VTodoMapping.h"

#include <QUuid>

#include <optional>
#include <utility>

namespace {

// The line of a Properties text naming the UID: its value's start and end; nothing when none.
std::optional<std::pair<qsizetype, qsizetype>> uidValueIn(const QString& properties) {
    const QString prefix = VTodoMapping::UidName + u'=';
    qsizetype start = 0;
    while (start <= properties.size()) {
        qsizetype end = start;
        while (end < properties.size() && properties[end] != u'\n' && properties[end] != u'\r')
            ++end;
        if (QStringView(properties).mid(start, end - start).startsWith(prefix, Qt::CaseInsensitive))
            return std::make_pair(start + prefix.size(), end);
        if (end >= properties.size())
            break;
        start = end + (properties.mid(end, 2) == QLatin1String("\r\n") ? 2 : 1);
    }
    return std::nullopt;
}

// Made up for Corvantis: the namespace of the UIDs derived from a list and an ID.
const QUuid UidNamespace(QStringLiteral("{69487545-c773-458a-9c3d-f368e782ef16}"));

} // namespace

namespace VTodoMapping {

QString UidOf(const QString& properties) {
    const auto value = uidValueIn(properties);
    return value ? properties.mid(value->first, value->second - value->first).trimmed() : QString();
}

QString WithUid(const QString& properties, const QString& uid) {
    if (const auto value = uidValueIn(properties)) {
        if (properties.mid(value->first, value->second - value->first) == uid)
            return properties;
        QString result = properties;
        return result.replace(value->first, value->second - value->first, uid);
    }
    if (properties.isEmpty())
        return UidName + u'=' + uid;
    QString lineBreak = QStringLiteral("\n");
    if (properties.contains(QLatin1String("\r\n")))
        lineBreak = QStringLiteral("\r\n");
    else if (properties.contains(u'\r'))
        lineBreak = QStringLiteral("\r");
    const bool ended = properties.endsWith(u'\n') || properties.endsWith(u'\r');
    return properties + (ended ? QString() : lineBreak) + UidName + u'=' + uid;
}

QString DerivedUid(const QString& listIdentity, std::int32_t id) {
    return DerivedUid(listIdentity, QString::number(id));
}

QString DerivedUid(const QString& listIdentity, const QString& taskIdentity) {
    const QUuid uid = listIdentity.isEmpty()
                          ? QUuid::createUuid()
                          : QUuid::createUuidV5(UidNamespace, listIdentity + u'#' + taskIdentity);
    return uid.toString(QUuid::WithoutBraces);
}

} // namespace VTodoMapping
