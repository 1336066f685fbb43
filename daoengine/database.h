#pragma once

#include "automation/dispatch.h"
#include "daoengine/dbfile.h"

#include <QString>

#include <memory>
#include <optional>

namespace tarnwick::jet {
class Database;
}
namespace tarnwick::odbc {
class Connection;
}

namespace tarnwick::daoengine {

// One table or query definition of an open database.
class Definition : public automation::AutomationObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name)
    Q_PROPERTY(qint32 Attributes READ Attributes)
public:
    Definition(QString name, qint32 attributes)
        : m_name(std::move(name)), m_attributes(attributes) {}
    QString Name() const { return m_name; }
    qint32 Attributes() const { return m_attributes; }

private:
    QString m_name;
    qint32 m_attributes;
};

// Table attributes as DAO numbers them.
namespace attr {
constexpr qint32 systemObject = static_cast<qint32>(0x80000002u);
constexpr qint32 attachedTable = 0x40000000;
constexpr qint32 attachedOdbc = 0x20000000;
} // namespace attr

// An open database: an Access file read through our Jet engine, or an ODBC data source.
class Database : public automation::AutomationObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name)
    Q_PROPERTY(int QueryTimeout READ QueryTimeout WRITE SetQueryTimeout)
    Q_PROPERTY(int CollatingOrder READ CollatingOrder)
public:
    // Opens an Access file: the engine's version decides which formats it reads.
    static automation::Dispatch openJet(EngineVersion engine, const QString& path, bool exclusive,
                                        const QString& password);
    static automation::Dispatch openOdbc(const QString& name, const QString& connect);
    ~Database() override;

    QString Name() const { return m_name; }
    int QueryTimeout() const { return m_queryTimeout; }
    void SetQueryTimeout(int seconds);
    int CollatingOrder() const;

    Q_INVOKABLE void Close();
    Q_INVOKABLE QVariant TableDefs();
    Q_INVOKABLE QVariant QueryDefs();
    Q_INVOKABLE QVariant Containers();
    Q_INVOKABLE QVariant Relations();
    Q_INVOKABLE QVariant Recordsets();
    Q_INVOKABLE QVariant Properties();

    QList<automation::Dispatch> tables() const;
    QList<automation::Dispatch> queries() const;

private:
    Database() = default;
    void requireOpen() const;

    QString m_name;
    int m_queryTimeout = 60;
    std::unique_ptr<jet::Database> m_jet;
    std::unique_ptr<odbc::Connection> m_odbc;
    FileLock m_lock;
    automation::Dispatch m_tableDefs, m_queryDefs, m_containers, m_relations, m_recordsets,
        m_properties;
};

} // namespace tarnwick::daoengine
