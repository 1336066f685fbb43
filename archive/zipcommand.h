#pragma once

// The command record handed to ZipLibExec, built from the archiver's settings in the form
// the loaded library's version asks for. Owns every text copy and frees them all at once.

#include "ziplib.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct ZipCommandInput {
    void* ownerWindow = nullptr;
    void* caller = nullptr;
    ZipCallbackFn callback = nullptr;
    bool trace = false;
    bool verbose = false;
    QString password;
    QString storeSuffixes; // ".gif:.png:..." or empty
    bool encrypt = false;
    bool systemFiles = false;
    bool volumeLabel = false;
    bool separateDirs = false;
    int level = 9;
    bool dirNames = false;
    bool recurse = false;
    bool forceDos = false;
    bool move = false;
    bool update = false;
    bool freshen = false;
    bool zipTime = false;
    bool archiveOnly = false;
    bool resetArchive = false;
    QString archiveName;
    QString tempDir;
    QString rootDir;
    QString archiveComment;
    QStringList specs;
    QStringList exclusions;
};

// One line of the file list split into its parts: a leading '>' or '|' sets or clears
// recursion, text after '<' is the line's own password (a bare '<' turns encryption off).
struct ZipSpecLine {
    QString file_spec;
    std::optional<QString> password;
    int32_t encrypt = 0;
    uint16_t recurse = 0;
};
ZipSpecLine ParseZipSpecLine(const QString& line, uint16_t commandRecurse, int32_t commandEncrypt,
                             const QString& commandPassword);

class ZipCommandRecord {
public:
    ZipCommandRecord(const ZipCommandInput& in, int libraryVersion);
    ~ZipCommandRecord();
    ZipCommandRecord(const ZipCommandRecord&) = delete;
    ZipCommandRecord& operator=(const ZipCommandRecord&) = delete;

    void* data() {
        return m_long ? static_cast<void*>(m_long.get()) : static_cast<void*>(m_short.get());
    }
    const ZipCommandHead& head() const { return m_long ? m_long->head : m_short->head; }
    const ZipCommandShort* shortForm() const { return m_short.get(); }
    const ZipCommandLong* longForm() const { return m_long.get(); }
    size_t size() const { return m_long ? sizeof(ZipCommandLong) : sizeof(ZipCommandShort); }

private:
    char* copy(const QByteArray& text);
    char* copyOrNull(const QString& text);

    std::unique_ptr<ZipCommandLong> m_long;
    std::unique_ptr<ZipCommandShort> m_short;
    std::vector<ZipFileSpec> m_specs;
    std::vector<char*> m_exclusions;
    std::vector<std::unique_ptr<char[]>> m_texts;
};

// Texts cross the boundary as 8-bit strings in the local encoding (file names as the file
// system spells them).
QByteArray ZipText(const QString& s);
