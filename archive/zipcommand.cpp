#include "archive/zipcommand.h"

#include "platform/filename.h"

#include <cstring>

QByteArray ZipText(const QString& s) {
    return tarnwick::fileNameToBytes(s);
}

ZipSpecLine ParseZipSpecLine(const QString& line, uint16_t commandRecurse, int32_t commandEncrypt,
                             const QString& commandPassword) {
    ZipSpecLine r;
    qsizetype start = 0;
    qsizetype end = line.size();
    r.recurse = commandRecurse;
    if (line.startsWith(QLatin1Char('>'))) {
        r.recurse = ZIPLIB_TRUE16;
        start = 1;
    } else if (line.startsWith(QLatin1Char('|'))) {
        r.recurse = 0;
        start = 1;
    }
    r.encrypt = commandEncrypt;
    if (!commandPassword.isEmpty()) r.password = commandPassword;
    const qsizetype lt = line.indexOf(QLatin1Char('<'));
    if (lt >= 0) {
        r.password.reset();
        r.encrypt = ZIPLIB_SPEC_OWN_PASSWORD;
        if (lt + 1 < line.size())
            r.password = line.mid(lt + 1);
        else
            r.encrypt = 0;
        // The mark is never part of the name.
        end = lt;
    }
    r.file_spec = end > start ? line.mid(start, end - start) : QString();
    return r;
}

char* ZipCommandRecord::copy(const QByteArray& text) {
    auto p = std::make_unique<char[]>(static_cast<size_t>(text.size()) + 1);
    std::memcpy(p.get(), text.constData(), static_cast<size_t>(text.size()));
    p[static_cast<size_t>(text.size())] = '\0';
    m_texts.push_back(std::move(p));
    return m_texts.back().get();
}

char* ZipCommandRecord::copyOrNull(const QString& text) {
    return text.isEmpty() ? nullptr : copy(ZipText(text));
}

ZipCommandRecord::ZipCommandRecord(const ZipCommandInput& in, int version) {
    ZipCommandHead* h;
    if (version < ZIPLIB_SHORT_FORM_MIN) {
        m_long = std::make_unique<ZipCommandLong>();
        std::memset(m_long.get(), 0, sizeof(ZipCommandLong));
        h = &m_long->head;
    } else {
        m_short = std::make_unique<ZipCommandShort>();
        std::memset(m_short.get(), 0, sizeof(ZipCommandShort));
        h = &m_short->head;
        if (version >= ZIPLIB_EXTENDED_MIN) {
            m_short->archive_comment = copyOrNull(in.archiveComment);
            m_short->archive_only = in.archiveOnly ? 1 : 0;
            m_short->reset_archive = in.resetArchive ? 1 : 0;
            if (!in.exclusions.isEmpty()) {
                for (const auto& e : in.exclusions)
                    m_exclusions.push_back(copy(ZipText(e)));
                m_short->exclusion_count = static_cast<int32_t>(m_exclusions.size());
                m_short->exclusions = m_exclusions.data();
            }
        }
        m_short->temp_dir = copyOrNull(in.tempDir);
    }
    auto b32 = [](bool v) { return v ? ZIPLIB_TRUE32 : 0; };
    h->owner_window = in.ownerWindow;
    h->caller = in.caller;
    h->version = ZIPLIB_VERSION;
    h->callback = in.callback;
    h->trace = b32(in.trace);
    h->password = in.password.isEmpty() ? nullptr : copy(ZipText(in.password.left(81)));
    h->store_suffixes = copyOrNull(in.storeSuffixes);
    h->encrypt = b32(in.encrypt);
    h->system_files = b32(in.systemFiles);
    h->volume_label = b32(in.volumeLabel);
    h->extra_attributes = 0;
    h->no_dir_entries = b32(!in.separateDirs);
    h->date_filter = 0;
    h->verbose = b32(in.verbose || in.trace);
    h->quiet = ZIPLIB_TRUE32;
    h->level = in.level;
    h->eol_translation = 0;
    h->junk_dirs = b32(!in.dirNames);
    h->recurse = in.recurse ? ZIPLIB_TRUE16 : 0;
    h->grow = ZIPLIB_TRUE32;
    h->force_dos = b32(in.forceDos);
    h->move = b32(in.move);
    h->delete_entries = 0;
    h->update = b32(in.update);
    h->freshen = b32(in.freshen && !in.update);
    h->junk_sfx = 0;
    h->latest_time = b32(in.zipTime);
    h->archive_name = copy(ZipText(in.archiveName));

    if (m_long) {
        const qsizetype n = std::min<qsizetype>(in.specs.size(), ZIPLIB_MAX_LONG_SPECS);
        for (qsizetype i = 0; i < n; ++i)
            m_long->specs[i] = copy(ZipText(in.specs[i]));
        m_long->check = ZIPLIB_CHECK_WORD;
        h->spec_count = static_cast<int32_t>(n);
        return;
    }
    m_specs.resize(static_cast<size_t>(in.specs.size()));
    for (qsizetype i = 0; i < in.specs.size(); ++i) {
        ZipFileSpec& f = m_specs[static_cast<size_t>(i)];
        std::memset(&f, 0, sizeof f);
        const ZipSpecLine line =
            ParseZipSpecLine(in.specs[i], h->recurse, h->encrypt, in.password.left(81));
        f.file_spec = copy(ZipText(line.file_spec));
        f.password = line.password ? copy(ZipText(*line.password)) : nullptr;
        f.encrypt = line.encrypt;
        f.recurse = line.recurse;
        f.root_dir = copyOrNull(in.rootDir);
    }
    m_short->specs = m_specs.empty() ? nullptr : m_specs.data();
    m_short->check = ZIPLIB_CHECK_WORD;
    h->spec_count = static_cast<int32_t>(m_specs.size());
}

ZipCommandRecord::~ZipCommandRecord() = default;
