#include "storage/FileFingerprint.h"

#include <QFile>

#include <sys/stat.h>

namespace {
qint64 nanoseconds(const struct timespec& time) {
    return static_cast<qint64>(time.tv_sec) * 1000000000 + time.tv_nsec;
}
} // namespace

FileFingerprint FileFingerprint::of(const QString& fileName) {
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return {};
    return {static_cast<qint64>(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim),
            static_cast<quint64>(st.st_ino)};
}

bool FileFingerprint::changedOnDisk(const QString& fileName) const {
    if (!isValid())
        return false;
    const FileFingerprint now = of(fileName);
    return now.isValid() && now != *this;
}
