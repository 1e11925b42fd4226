#include "calendar/TodoParents.h"

#include <QByteArray>

#include <libical/ical.h>

#include <vector>

namespace TodoParents {

namespace {

// The RELATED-TO properties that name a parent, and the parent X- property of earlier versions.
bool namesParent(icalproperty* property) {
    if (icalproperty_isa(property) == ICAL_X_PROPERTY) {
        const char* name = icalproperty_get_x_name(property);
        return name && qstricmp(name, "X-CORVANTIS-PARENT-ID") == 0;
    }
    icalparameter* type = icalproperty_get_first_parameter(property, ICAL_RELTYPE_PARAMETER);
    return !type || icalparameter_get_reltype(type) == ICAL_RELTYPE_PARENT;
}

std::vector<icalproperty*> parentProperties(icalcomponent* vtodo, icalproperty_kind kind) {
    std::vector<icalproperty*> found;
    for (icalproperty* p = icalcomponent_get_first_property(vtodo, kind); p;
         p = icalcomponent_get_next_property(vtodo, kind))
        if (namesParent(p))
            found.push_back(p);
    return found;
}

} // namespace

QString ParentUid(const icalcomponent* vtodo) {
    auto* component = const_cast<icalcomponent*>(vtodo);
    for (icalproperty* p : parentProperties(component, ICAL_RELATEDTO_PROPERTY))
        if (const char* uid = icalproperty_get_relatedto(p); uid && *uid)
            return QString::fromUtf8(uid).trimmed();
    return QString();
}

bool SetParentUid(icalcomponent* vtodo, const QString& uid) {
    bool changed = false;
    for (icalproperty* old : parentProperties(vtodo, ICAL_X_PROPERTY)) {
        icalcomponent_remove_property(vtodo, old);
        icalproperty_free(old);
        changed = true;
    }
    const QString now = ParentUid(vtodo);
    if (now == uid)
        return changed;
    for (icalproperty* old : parentProperties(vtodo, ICAL_RELATEDTO_PROPERTY)) {
        icalcomponent_remove_property(vtodo, old);
        icalproperty_free(old);
    }
    if (!uid.isEmpty()) {
        icalproperty* related = icalproperty_new_relatedto(uid.toUtf8().constData());
        icalproperty_add_parameter(related, icalparameter_new_reltype(ICAL_RELTYPE_PARENT));
        icalcomponent_add_property(vtodo, related);
    }
    return true;
}

} // namespace TodoParents
