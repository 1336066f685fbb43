#include "daoengine/engine.h"

#include "automation/classregistry.h"
#include "daoengine/collection.h"
#include "daoengine/dbfile.h"
#include "daoengine/workspace.h"
#include "jet/check.h"
#include "jet/compact.h"
#include "jet/database.h"
#include "jet/header.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace tarnwick::daoengine {

using namespace automation;

namespace {

QVariant collection(Dispatch& slot) {
    if (!slot) slot = Collection::make();
    return ToVariant(slot);
}

std::string fileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString jetText(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// The sort order a destination locale text asks for (";LANGID=0x0409;CP=1252;COUNTRY=0"),
// 0 when it asks for none.
int localeSortOrder(const QString& locale) {
    if (locale.trimmed().isEmpty()) return 0;
    const QString id = connectValue(locale, QStringLiteral("LANGID")).trimmed();
    bool ok = false;
    const int code = id.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                         ? id.mid(2).toInt(&ok, 16)
                         : id.toInt(&ok, 10);
    if (!ok || code <= 0)
        throw EAutomationError(QStringLiteral("The locale text \"%1\" is not valid.").arg(locale));
    return code;
}

// Whether check finds `file` damaged (false when it cannot tell).
bool damaged(const QString& file, const std::string& password) {
    try {
        const auto db = jet::Database::open(fileName(file));
        return jet::passwordMatches(db->header(), password) && !jet::check(*db).sound();
    } catch (const jet::JetError&) {
        return false;
    }
}

// Repairs `file` in place when nothing would be lost; otherwise leaves it as it is, with the
// salvaged copy beside it, and fails saying both. True when the file was rewritten.
bool repairOrRefuse(const QString& file, const std::string& password) {
    jet::RepairReport r;
    try {
        r = jet::repair(fileName(file), password);
    } catch (const jet::DatabaseInUse&) {
        throw EAutomationError(message::inUse(file));
    } catch (const jet::DatabaseEncrypted& e) {
        throw EAutomationError(message::encrypted(file, e.detail()));
    } catch (const jet::RewriteRefused& e) {
        throw EAutomationError(QString::fromUtf8(e.detail().c_str()));
    } catch (const jet::JetError& e) {
        throw EAutomationError(
            QStringLiteral("%1 cannot be repaired: %2").arg(native(file), jetText(e)));
    }
    if (r.lost)
        throw EAutomationError(
            QStringLiteral("Repairing %1 would lose %2; it was left as it was, the salvaged copy "
                           "is %3")
                .arg(native(file), QString::fromUtf8(r.lossSummary.c_str()),
                     native(QFile::decodeName(r.salvaged.c_str()))));
    return r.repaired;
}

} // namespace

void DBEngine::SetDefaultType(int type) {
    if (type != useJet && type != useOdbc)
        throw EAutomationError(QStringLiteral("%1 is not a workspace type.").arg(type));
    m_type = type;
}

QString DBEngine::Version() const {
    switch (m_engine) {
    case EngineVersion::V35:
        return QStringLiteral("3.51");
    case EngineVersion::V36:
        return QStringLiteral("3.6");
    case EngineVersion::V120:
        break;
    }
    return QStringLiteral("12.0");
}

QVariant DBEngine::CreateWorkspace(QVariant name, QVariant user, QVariant password, QVariant type) {
    const QString u = IsMissing(user) ? m_user : ArgText(user);
    const QString p = IsMissing(password) ? m_password : ArgText(password);
    const int t = IsMissing(type) ? m_type : type.toInt();
    if (t != useJet && t != useOdbc)
        throw EAutomationError(QStringLiteral("%1 is not a workspace type.").arg(t));
    if (u.compare(QLatin1String("admin"), Qt::CaseInsensitive) != 0 || !p.isEmpty())
        throw EAutomationError(QStringLiteral("Not a valid account name or password."));
    return ToVariant(std::make_shared<Workspace>(m_engine, ArgText(name), u, t));
}

QVariant DBEngine::Workspaces() {
    return collection(m_workspaces);
}

QVariant DBEngine::Errors() {
    return collection(m_errors);
}

QVariant DBEngine::Properties() {
    return collection(m_properties);
}

void DBEngine::Idle(QVariant) {
    // Nothing is cached between calls, so there is nothing to write back or release.
}

void DBEngine::RepairDatabase(QVariant name) {
    const QString file = ArgText(name);
    requireEngineReads(m_engine, probeDatabaseFile(file), file);
    repairOrRefuse(file, {});
}

void DBEngine::CompactDatabase(QVariant source, QVariant destination, QVariant locale,
                               QVariant options, QVariant connect) {
    const QString from = ArgText(source);
    const QString to = ArgText(destination);
    requireEngineReads(m_engine, probeDatabaseFile(from), from);
    if (to.isEmpty())
        throw EAutomationError(
            QStringLiteral("No destination is given for compacting %1.").arg(native(from)));
    if (QFileInfo(to).exists() || QFileInfo(to).isSymLink())
        throw EAutomationError(
            QStringLiteral("The destination %1 already exists.").arg(native(to)));

    const int o = IsMissing(options) ? 0 : options.toInt();
    jet::CompactOptions co;
    if (o & 4)
        co.encoding = jet::PageEncoding::Decrypt;
    else if (o & 2)
        co.encoding = jet::PageEncoding::Encrypt;
    co.formatVersion = o & ~6;
    if (m_compactMemory > 0)
        co.memoryMiB =
            std::max(static_cast<unsigned>(m_compactMemory), jet::CompactOptions::kMinMemoryMiB);
    if (m_engine == EngineVersion::V35 && co.formatVersion == 64)
        throw EAutomationError(
            QStringLiteral("The 3.5 engine cannot write Jet 4 (Access 2000) files."));
    if (m_engine != EngineVersion::V120 && co.formatVersion == 128)
        throw EAutomationError(
            QStringLiteral("The %1 engine cannot write ACE 12 (Access 2007) files.")
                .arg(m_engine == EngineVersion::V35 ? QStringLiteral("3.5")
                                                    : QStringLiteral("3.6")));
    const QString password = connectValue(ArgText(connect), QStringLiteral("PWD"));
    co.password = password.toStdString();
    try {
        const std::unique_ptr<jet::Database> db = jet::Database::open(fileName(from));
        if (!db->header().password.empty() && !jet::passwordMatches(db->header(), co.password))
            throw EAutomationError(message::wrongPassword(from));
        const int order = IsMissing(locale) ? 0 : localeSortOrder(ArgText(locale));
        co.sortOrder = order == db->header().sortOrder ? 0 : order;
    } catch (const jet::DatabaseEncrypted& e) {
        throw EAutomationError(message::encrypted(from, e.detail()));
    } catch (const jet::JetError& e) {
        throw EAutomationError(
            QStringLiteral("%1 cannot be read: %2").arg(native(from), jetText(e)));
    }
    // The 3.6 and 12.0 engines repair a damaged file before compacting it, as Jet 4 does.
    for (bool repaired = m_engine == EngineVersion::V35;;) {
        try {
            jet::compact(fileName(from), fileName(to), co);
            return;
        } catch (const jet::DatabaseInUse&) {
            throw EAutomationError(message::inUse(from));
        } catch (const jet::JetError& e) {
            if (repaired || !damaged(from, co.password))
                throw EAutomationError(
                    QStringLiteral("%1 cannot be compacted: %2").arg(native(from), jetText(e)));
        }
        repaired = true;
        if (!repairOrRefuse(from, co.password))
            throw EAutomationError(QStringLiteral("%1 cannot be compacted.").arg(native(from)));
    }
}

QStringList EngineProgIds() {
    return {QStringLiteral("DAO.PrivateDBEngine.35"),  QStringLiteral("DAO.DBEngine.35"),
            QStringLiteral("DAO.PrivateDBEngine.36"),  QStringLiteral("DAO.DBEngine.36"),
            QStringLiteral("DAO.PrivateDBEngine.120"), QStringLiteral("DAO.DBEngine.120")};
}

EngineVersion EngineVersionOf(const QString& progId) {
    if (progId.endsWith(QLatin1String(".35"))) return EngineVersion::V35;
    if (progId.endsWith(QLatin1String(".36"))) return EngineVersion::V36;
    return EngineVersion::V120;
}

void RegisterEngineClasses() {
    for (const QString& id : EngineProgIds()) {
        const EngineVersion engine = EngineVersionOf(id);
        RegisterClass(id, [engine] { return std::make_shared<DBEngine>(engine); });
    }
}

} // namespace tarnwick::daoengine
