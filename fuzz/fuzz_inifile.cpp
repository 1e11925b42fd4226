// Feeds arbitrary bytes to the settings file reader, then erases and rewrites the category
// section the way Save does, and checks what must always hold.
#include "storage/IniFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    IniFile file = IniFile::fromBytes(bytes);
    // Reading alone never changes a byte.
    if (file.toBytes() != bytes)
        std::abort();
    for (int n = 0; n < 4; ++n)
        if (file.readString(QStringLiteral("Category"), QStringLiteral("Line%1").arg(n)).size() >
            IniFile::MaxValueLength)
            std::abort();

    file.eraseSection(QStringLiteral("Category"));
    const QByteArray erased = file.toBytes();
    file.writeString(QStringLiteral("category"), QStringLiteral("Line0"), QStringLiteral("Home"));
    file.writeString(QStringLiteral("Category"), QStringLiteral("LINE1"), QStringLiteral("\"q\""));
    const QByteArray written = file.toBytes();
    // Everything that was kept comes first and unchanged, apart from a line break added to an
    // unfinished last line.
    if (!written.startsWith(erased) && !written.startsWith(erased + '\n') &&
        !written.startsWith(erased + "\r\n"))
        std::abort();
    const IniFile reread = IniFile::fromBytes(written);
    if (reread.readString(QStringLiteral("Category"), QStringLiteral("Line0")) !=
            QStringLiteral("Home") ||
        reread.readString(QStringLiteral("Category"), QStringLiteral("Line1")) !=
            QStringLiteral("\"q\""))
        std::abort();
    return 0;
}
