#include "daoengine/database.h"

#include "daoengine/collection.h"
#include "daoengine/odbc.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/header.h"

#include <QDir>
#include <QFile>

namespace tarnwick::daoengine {

using namespace automation;

Dispatch Database::openJet(EngineVersion engine, const QString& path, bool exclusive,
                           const QString& password) {
    requireEngineReads(engine, probeDatabaseFile(path), path);
    std::shared_ptr<Database> db(new Database);
    db->m_name = path;
    db->m_lock = FileLock(path, exclusive);
    try {
        db->m_jet = jet::Database::open(QFile::encodeName(path).toStdString());
    } catch (const jet::DatabaseEncrypted& e) {
        throw EAutomationError(message::encrypted(path, e.detail()));
    } catch (const jet::JetError& e) {
        throw EAutomationError(
            QStringLiteral("%1 cannot be read: %2")
                .arg(QDir::toNativeSeparators(path), QString::fromUtf8(e.what())));
    }
    // A file without a password opens whatever the connect text says, as with Jet.
    const jet::DatabaseHeader& header = db->m_jet->header();
    if (!header.password.empty() && !jet::passwordMatches(header, password.toStdString()))
        throw EAutomationError(message::wrongPassword(path));
    return db;
}

Dispatch Database::openOdbc(const QString& name, const QString& connect) {
    std::shared_ptr<Database> db(new Database);
    db->m_name = name;
    db->m_odbc = std::make_unique<odbc::Connection>(connect);
    return db;
}

Database::~Database() = default;

void Database::requireOpen() const {
    if (!m_jet && !m_odbc)
        throw EAutomationError(QStringLiteral("The database %1 is closed.").arg(m_name));
}

void Database::SetQueryTimeout(int seconds) {
    requireOpen();
    m_queryTimeout = seconds;
}

int Database::CollatingOrder() const {
    requireOpen();
    if (!m_jet)
        throw EAutomationError(QStringLiteral("An ODBC data source has no collating order."));
    return m_jet->header().sortOrder;
}

void Database::Close() {
    m_jet.reset();
    m_odbc.reset();
    m_lock.release();
}

QList<Dispatch> Database::tables() const {
    requireOpen();
    QList<Dispatch> items;
    if (m_jet) {
        for (const jet::CatalogEntry& e : m_jet->catalog()) {
            if (e.parentId != jet::tablesContainerId) continue;
            qint32 attributes = static_cast<qint32>(e.flags);
            if (e.type == jet::objtype::linkedJet)
                attributes |= attr::attachedTable;
            else if (e.type == jet::objtype::linkedOdbc)
                attributes |= attr::attachedOdbc;
            else if (e.type != jet::objtype::table)
                continue;
            items.append(std::make_shared<Definition>(QString::fromStdString(e.name), attributes));
        }
    } else {
        for (const odbc::Connection::Table& t : m_odbc->tables())
            items.append(std::make_shared<Definition>(t.name, t.system ? attr::systemObject : 0));
    }
    return items;
}

QList<Dispatch> Database::queries() const {
    requireOpen();
    QList<Dispatch> items;
    if (m_jet)
        for (const jet::CatalogEntry& e : m_jet->catalog())
            if (e.type == jet::objtype::query)
                items.append(std::make_shared<Definition>(QString::fromStdString(e.name), 0));
    return items;
}

namespace {
QVariant collection(Dispatch& slot, Collection::Source source = {}) {
    if (!slot) slot = Collection::make(std::move(source));
    return ToVariant(slot);
}

// A collection may outlive its database; it then refreshes to an error, never to freed memory.
template <typename F> Collection::Source from(Database* db, F list) {
    std::weak_ptr<AutomationObject> self = db->weak_from_this();
    return [self, list]() -> QList<Dispatch> {
        const std::shared_ptr<AutomationObject> alive = self.lock();
        if (!alive) throw EAutomationError(QStringLiteral("The database no longer exists."));
        return list(static_cast<Database*>(alive.get()));
    };
}
} // namespace

QVariant Database::TableDefs() {
    requireOpen();
    return collection(m_tableDefs, from(this, [](Database* d) { return d->tables(); }));
}

QVariant Database::QueryDefs() {
    requireOpen();
    return collection(m_queryDefs, from(this, [](Database* d) { return d->queries(); }));
}

QVariant Database::Containers() {
    requireOpen();
    return collection(m_containers);
}

QVariant Database::Relations() {
    requireOpen();
    return collection(m_relations);
}

QVariant Database::Recordsets() {
    requireOpen();
    return collection(m_recordsets);
}

QVariant Database::Properties() {
    requireOpen();
    return collection(m_properties);
}

} // namespace tarnwick::daoengine
