#include "base/TextLines.h"

#include <QCollator>

#include <algorithm>

namespace uGeneral {

QString CaptionFromFileName(const QString& fileName) {
    const int sep = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
    const QString last = fileName.mid(sep + 1);
    const int dot = last.lastIndexOf(u'.');
    return dot < 0 ? last : last.left(dot);
}

QString FolderPart(const QString& fileName) {
    const int sep = std::max(fileName.lastIndexOf(u'/'), fileName.lastIndexOf(u'\\'));
    return fileName.left(sep + 1);
}

void SortLines(QStringList& lines) {
    if (lines.size() < 2)
        return;
    QCollator collator; // the default locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(lines.begin(), lines.end(), [&](const QString& a, const QString& b) {
        return collator.compare(a, b) < 0;
    });
}

QString TrimBlanksAndControls(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start).unicode() <= 0x20)
        ++start;
    while (end > start && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(start, end - start);
}

} // namespace uGeneral
