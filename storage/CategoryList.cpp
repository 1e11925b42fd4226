#include "storage/CategoryList.h"

#include "base/TextLines.h"
#include "storage/CategorySettings.h"

#include <QFileInfo>

CategoryList::CategoryList(const QString& programFolder, QObject* parent)
    : QObject(parent), m_folder(QFileInfo(programFolder).absoluteFilePath()) {
    setObjectName(QStringLiteral("CategoryList"));
    if (!m_folder.endsWith(u'/'))
        m_folder += u'/';
}

QString CategoryList::settingsFileName() const {
    return CategorySettings::FileName(m_folder);
}

QString CategoryList::load() {
    m_loadError.clear();
    QStringList lines = CategorySettings::Read(settingsFileName(), &m_loadError);
    uGeneral::SortLines(lines);
    m_lines = lines;
    emit changed();
    return m_loadError;
}

void CategoryList::setLines(const QStringList& lines) {
    if (lines == m_lines)
        return;
    m_lines = lines;
    emit changed();
}

void CategoryList::save() const {
    CategorySettings::Save(settingsFileName(), m_lines);
}
