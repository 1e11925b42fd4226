#include "sync/SyncState.h"

#include "base/CorvantisError.h"
#include "storage/InputFile.h"
#include "storage/SaveFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The state file: a first line naming the format, then one record per line, each a letter and
// its fields in base64 (so no field can hold a space or a line break):
//   T token ctag              the server's cursor
//   I uid href etag fp ics    a task as last synced
//   R uid                     a task no longer synced (deleted on both sides)
const QByteArray Header = QByteArrayLiteral("corvantis-sync-state 1\n");

QByteArray field(const QByteArray& bytes) {
    return ' ' + bytes.toBase64();
}

QByteArray cursorRecord(const QByteArray& token, const QByteArray& ctag) {
    return 'T' + field(token) + field(ctag) + '\n';
}

QByteArray itemRecord(const QString& uid, const SyncState::Item& item) {
    return 'I' + field(uid.toUtf8()) + field(item.href.toUtf8()) + field(item.etag) +
           field(item.fingerprint) + field(item.ics) + '\n';
}

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

constexpr qint64 MaxSettingsSize = qint64(1) << 20;
constexpr qint64 MaxStateSize = qint64(1) << 30;

// A file of ours as it stands: `present` is false when there is none; nothing is returned when
// it is there but cannot be read (not a regular file, too large, no access).
std::optional<QByteArray> readFile(const QString& fileName, qint64 maxSize, bool& present) {
    present = QFileInfo(fileName).exists() || QFileInfo(fileName).isSymLink();
    if (!present)
        return QByteArray();
    try {
        return InputFile(fileName, maxSize).readAll();
    } catch (const CorvantisError&) {
        return std::nullopt;
    }
}

// Moves a file that cannot be read out of the way, for a look later; the newest one is kept.
void setAside(const QString& fileName) {
    const QString aside = fileName + QStringLiteral(".damaged");
    QFile::remove(aside);
    QFile::rename(fileName, aside);
}

} // namespace

SyncState::SyncState(const QString& listFile, const QString& root)
    : m_folder(root), m_listFile(QFileInfo(listFile).absoluteFilePath()) {
    const QFileInfo info(listFile);
    const QString key = info.exists() ? info.canonicalFilePath() : m_listFile;
    m_base = QDir(root).filePath(QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(40)));
}

SyncState::~SyncState() {
    closeJournal();
}

QString SyncState::DefaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/sync");
}

void SyncState::ensureFolder() const {
    if (!QDir().mkpath(m_folder))
        throw CorvantisError(QStringLiteral("Cannot create folder \"%1\".").arg(m_folder));
    // Addresses, user names and tasks are the user's own business.
    ::chmod(QFile::encodeName(m_folder).constData(), 0700);
}

void SyncState::load() {
    closeJournal();
    m_problem.clear();
    m_settings = Settings();
    m_syncToken.clear();
    m_ctag.clear();
    m_items.clear();
    m_uidByHref.clear();
    m_removed.clear();
    m_pending.clear();
    m_rewrite = false;
    m_records = 0;

    bool present = false;
    const QJsonObject object =
        QJsonDocument::fromJson(readFile(settingsFile(), MaxSettingsSize, present).value_or(""))
            .object();
    if (present && object.isEmpty()) {
        setAside(settingsFile());
        m_problem =
            QStringLiteral("The sync settings of \"%1\" could not be read and were set aside.")
                .arg(m_listFile);
    } else if (present) {
        m_settings.server = QUrl(object.value(QStringLiteral("server")).toString());
        m_settings.calendar = QUrl(object.value(QStringLiteral("calendar")).toString());
        m_settings.userName = object.value(QStringLiteral("user")).toString();
        m_settings.enabled = object.value(QStringLiteral("enabled")).toBool();
        m_settings.intervalMinutes =
            qBound(1, object.value(QStringLiteral("interval")).toInt(15), 24 * 60);
    }

    const std::optional<QByteArray> state = readFile(stateFile(), MaxStateSize, present);
    if (present && (!state || !readState(*state))) {
        setAside(stateFile());
        m_syncToken.clear();
        m_ctag.clear();
        m_items.clear();
        m_uidByHref.clear();
        m_removed.clear();
        m_records = 0;
        m_rewrite = true;
        if (m_problem.isEmpty())
            m_problem = QStringLiteral("The sync state of \"%1\" could not be read; the next sync "
                                       "compares every task with the server.")
                            .arg(m_listFile);
    }
}

bool SyncState::readState(const QByteArray& bytes) {
    if (!bytes.startsWith(Header))
        return bytes.isEmpty();
    qsizetype at = Header.size();
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0) {
            // A record cut short by an interruption: its step is done again, and the file is
            // written whole at the next commit, so no record is appended to the cut one.
            m_rewrite = true;
            break;
        }
        const QList<QByteArray> parts = bytes.mid(at, end - at).split(' ');
        at = end + 1;
        QList<QByteArray> fields;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            auto decoded = QByteArray::fromBase64Encoding(
                parts[i], QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                return false;
            fields.append(*decoded);
        }
        const QByteArray kind = parts.value(0);
        if (kind == "T" && fields.size() == 2) {
            m_syncToken = fields[0];
            m_ctag = fields[1];
        } else if (kind == "I" && fields.size() == 5) {
            const QString uid = QString::fromUtf8(fields[0]);
            if (const Item* old = item(uid))
                m_uidByHref.remove(old->href);
            const Item item{QString::fromUtf8(fields[1]), fields[2], fields[4], fields[3]};
            m_items.insert(uid, item);
            m_uidByHref.insert(item.href, uid);
            m_removed.remove(uid);
        } else if (kind == "R" && fields.size() == 1) {
            const QString uid = QString::fromUtf8(fields[0]);
            if (const Item* old = item(uid))
                m_uidByHref.remove(old->href);
            m_items.remove(uid);
            m_removed.insert(uid);
        } else {
            return false;
        }
        ++m_records;
    }
    return true;
}

void SyncState::setSettings(const Settings& settings) {
    ensureFolder();
    QJsonObject object;
    object.insert(QStringLiteral("list"), m_listFile);
    object.insert(QStringLiteral("server"), settings.server.toString());
    object.insert(QStringLiteral("calendar"), settings.calendar.toString());
    object.insert(QStringLiteral("user"), settings.userName);
    object.insert(QStringLiteral("enabled"), settings.enabled);
    object.insert(QStringLiteral("interval"), settings.intervalMinutes);
    const QByteArray bytes = QJsonDocument(object).toJson();
    SaveFile file(settingsFile());
    ::fchmod(file.descriptor(), 0600);
    const QString failed = file.write(bytes.constData(), std::size_t(bytes.size()));
    if (!failed.isNull())
        file.fail(failed);
    file.commit();
    m_settings = settings;
}

const SyncState::Item* SyncState::item(const QString& uid) const {
    const auto found = m_items.constFind(uid);
    return found == m_items.cend() ? nullptr : &found.value();
}

QString SyncState::uidOfHref(const QString& href) const {
    return m_uidByHref.value(href);
}

void SyncState::openJournal() {
    ensureFolder();
    const QByteArray name = QFile::encodeName(stateFile());
    m_journal = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (m_journal < 0)
        throw CorvantisError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(stateFile(), systemReason()));
    struct stat status {};
    if (::fstat(m_journal, &status) == 0 && status.st_size == 0)
        m_pending.prepend(Header);
}

void SyncState::closeJournal() {
    if (m_journal >= 0)
        ::close(m_journal);
    m_journal = -1;
}

void SyncState::setCursor(const QByteArray& syncToken, const QByteArray& ctag) {
    m_pending += cursorRecord(syncToken, ctag);
    ++m_records;
    m_syncToken = syncToken;
    m_ctag = ctag;
}

void SyncState::setItem(const QString& uid, const Item& newItem) {
    m_pending += itemRecord(uid, newItem);
    ++m_records;
    if (const Item* old = item(uid))
        m_uidByHref.remove(old->href);
    m_items.insert(uid, newItem);
    m_uidByHref.insert(newItem.href, uid);
    m_removed.remove(uid);
}

void SyncState::removeItem(const QString& uid) {
    const Item* old = item(uid);
    if (!old)
        return;
    m_pending += 'R' + field(uid.toUtf8()) + '\n';
    ++m_records;
    m_uidByHref.remove(old->href);
    m_items.remove(uid);
    m_removed.insert(uid);
}

void SyncState::clear() {
    m_syncToken.clear();
    m_ctag.clear();
    m_items.clear();
    m_uidByHref.clear();
    m_removed.clear();
    m_pending.clear();
    m_rewrite = true;
}

void SyncState::commit() {
    if (m_rewrite || m_records > 2 * (m_items.size() + m_removed.size()) + 64) {
        compact();
        return;
    }
    if (m_pending.isEmpty())
        return;
    if (m_journal < 0)
        openJournal();
    // A crash in the middle leaves a cut last line, which the next load drops.
    qsizetype done = 0;
    while (done < m_pending.size()) {
        const ssize_t n =
            ::write(m_journal, m_pending.constData() + done, std::size_t(m_pending.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    if (done < m_pending.size() || ::fdatasync(m_journal) != 0) {
        const QString reason = systemReason();
        closeJournal();
        // What was written may end in a cut record: the next commit writes the file whole.
        m_rewrite = done > 0;
        throw CorvantisError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(stateFile(), reason));
    }
    m_pending.clear();
}

void SyncState::compact() {
    ensureFolder();
    QByteArray bytes = Header + cursorRecord(m_syncToken, m_ctag);
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it)
        bytes += itemRecord(it.key(), it.value());
    for (const QString& uid : m_removed)
        bytes += 'R' + field(uid.toUtf8()) + '\n';
    SaveFile file(stateFile());
    ::fchmod(file.descriptor(), 0600);
    const QString failed = file.write(bytes.constData(), std::size_t(bytes.size()));
    if (!failed.isNull())
        file.fail(failed);
    file.commit();
    closeJournal(); // it holds the file that was replaced
    m_pending.clear();
    m_rewrite = false;
    m_records = m_items.size() + m_removed.size() + 1;
}

void SyncState::remove() {
    closeJournal();
    m_pending.clear();
    m_rewrite = false;
    QFile::remove(stateFile());
    QFile::remove(settingsFile());
    m_settings = Settings();
    m_syncToken.clear();
    m_ctag.clear();
    m_items.clear();
    m_uidByHref.clear();
    m_removed.clear();
    m_records = 0;
}
