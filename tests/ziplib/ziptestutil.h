// Helpers shared by the zip library tests: building command records by hand, running
// the library through dlopen as the archiver does, and checking archives with
// independent tools (Info-ZIP, 7-Zip, Python's zipfile).
#pragma once

#include "ziplib.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <zlib.h>

namespace ziptest {

struct Library {
    void* handle = nullptr;
    ZipLibExecFn exec = nullptr;
    GetZipLibVersionFn version = nullptr;
    Library() {
        handle = dlopen(ZIPLIB_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            exec = reinterpret_cast<ZipLibExecFn>(dlsym(handle, "ZipLibExec"));
            version = reinterpret_cast<GetZipLibVersionFn>(dlsym(handle, "GetZipLibVersion"));
        }
    }
    ~Library() {
        if (handle) dlclose(handle);
    }
    static Library& get() {
        static Library lib;
        return lib;
    }
};

struct CallbackRecord {
    int action;
    int code;
    int size;
    std::string text;
    std::thread::id thread;
};

// Collects every callback; `answer` may change the record and returns the callback's result.
struct Recorder {
    std::vector<CallbackRecord> calls;
    std::function<int32_t(ZipCallbackData&)> answer;

    static int32_t callback(ZipCallbackData* d) {
        auto* self = static_cast<Recorder*>(d->caller);
        self->calls.push_back({d->action, d->code, d->size, d->text, std::this_thread::get_id()});
        return self->answer ? self->answer(*d) : 0;
    }
    QStringList messages() const {
        QStringList r;
        for (const auto& c : calls)
            if (c.action == ZIPLIB_ACTION_MESSAGE) r << QString::fromStdString(c.text);
        return r;
    }
    int count(int action) const {
        int n = 0;
        for (const auto& c : calls)
            n += c.action == action;
        return n;
    }
};

struct FileSpecArg {
    FileSpecArg(std::string s, const char* pw = nullptr, int32_t enc = 0, uint16_t rec = 0,
                std::string r = {})
        : file_spec(std::move(s)), password(pw), encrypt(enc), recurse(rec), root(std::move(r)) {}
    std::string file_spec;
    const char* password = nullptr;
    int32_t encrypt = 0;
    uint16_t recurse = 0;
    std::string root;
};

// A short-form command as the archiver fills it for the main window's settings.
struct Command {
    ZipCommandShort cmd;
    std::vector<ZipFileSpec> specs;
    std::vector<std::string> keep; // owns the file_spec texts
    std::vector<char*> excl;
    std::string archive, suffixes, password, tempDir, comment;
    std::vector<std::string> exclusions;
    Recorder recorder;

    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;
    Command(const QString& archiveName, std::vector<FileSpecArg> list) {
        std::memset(&cmd, 0, sizeof cmd);
        archive = archiveName.toStdString();
        cmd.head.caller = &recorder;
        cmd.head.version = ZIPLIB_VERSION;
        cmd.head.callback = &Recorder::callback;
        cmd.head.no_dir_entries = ZIPLIB_TRUE32;
        cmd.head.quiet = ZIPLIB_TRUE32;
        cmd.head.level = 9;
        cmd.head.junk_dirs = ZIPLIB_TRUE32;
        cmd.head.grow = ZIPLIB_TRUE32;
        suffixes = ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.exe";
        cmd.check = ZIPLIB_CHECK_WORD;
        keep.reserve(list.size() * 3);
        for (const auto& s : list) {
            ZipFileSpec f;
            std::memset(&f, 0, sizeof f);
            keep.push_back(s.file_spec);
            f.file_spec = keep.back().data();
            if (s.password) {
                keep.emplace_back(s.password);
                f.password = keep.back().data();
            }
            f.encrypt = s.encrypt;
            f.recurse = s.recurse;
            if (!s.root.empty()) {
                keep.push_back(s.root);
                f.root_dir = keep.back().data();
            }
            specs.push_back(f);
        }
    }
    int32_t run() {
        cmd.head.archive_name = archive.data();
        cmd.head.store_suffixes = suffixes.empty() ? nullptr : suffixes.data();
        cmd.head.password = password.empty() ? nullptr : password.data();
        cmd.temp_dir = tempDir.empty() ? nullptr : tempDir.data();
        cmd.archive_comment = comment.empty() ? nullptr : comment.data();
        cmd.head.spec_count = static_cast<int32_t>(specs.size());
        cmd.specs = specs.data();
        excl.clear();
        for (auto& e : exclusions)
            excl.push_back(e.data());
        cmd.exclusion_count = static_cast<int32_t>(excl.size());
        cmd.exclusions = excl.empty() ? nullptr : excl.data();
        return Library::get().exec(&cmd);
    }
};

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

inline void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

inline QByteArray randomBytes(qsizetype n, quint32 seed) {
    QByteArray b(n, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<char>(x);
    }
    return b;
}

inline quint32 crcOf(const QByteArray& b) {
    return static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(b.constData()), static_cast<uInt>(b.size())));
}

struct ToolResult {
    int exit = -1;
    QString out;
};

inline ToolResult tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(600000)) return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}

// What Python's zipfile reads from an archive.
inline QJsonObject inspect(const QString& archive, const QString& password = {}) {
    QStringList args{QString::fromUtf8(TARNWICK_TESTS_DIR "/zipinspect.py"), archive};
    if (!password.isEmpty()) args << password;
    const auto r = tool("python3", args);
    if (r.exit != 0) qWarning() << "zipinspect:" << r.out;
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

inline QJsonObject entry(const QJsonObject& info, const QString& name) {
    for (const auto& v : info["entries"].toArray())
        if (v.toObject()["name"].toString() == name) return v.toObject();
    return {};
}

inline QStringList names(const QJsonObject& info) {
    QStringList r;
    for (const auto& v : info["entries"].toArray())
        r << v.toObject()["name"].toString();
    return r;
}

// Every archive must pass both independent testers.
inline void verifyWithTools(const QString& archive, const QString& password = {}) {
    QStringList uargs{"-tqq"};
    if (!password.isEmpty()) uargs << "-P" << password;
    uargs << archive;
    const auto u = tool("unzip", uargs);
    QVERIFY2(u.exit == 0, qPrintable("unzip -t: " + u.out));
    QStringList sargs{"t", "-bd"};
    if (!password.isEmpty()) sargs << "-p" + password;
    sargs << archive;
    const auto s = tool("7z", sargs);
    QVERIFY2(s.exit == 0, qPrintable("7z t: " + s.out));
}

inline QStringList dirList(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace ziptest
