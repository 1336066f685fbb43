#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace tarnwick::odbc {

// What unixODBC knows: drivers from odbcinst.ini, data sources from the system odbc.ini and the
// user's (~/.odbc.ini, or as ODBCSYSINI and ODBCINI say).
enum class Scope { User, System };
QStringList drivers();
QStringList dataSources(Scope scope);
// The file of a data source: its "Database" entry, else its "DBQ" entry; "" when it has none.
QString dataSourceFile(const QString& name, Scope scope);

// An open connection to a data source. Errors are thrown as EAutomationError with the driver's
// diagnostic text.
class Connection {
public:
    // `connect` is an ODBC connection string ("DSN=name;UID=;PWD=").
    explicit Connection(const QString& connect);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    struct Table {
        QString name;
        bool system = false;
    };
    QList<Table> tables() const;

private:
    struct Handles;
    std::unique_ptr<Handles> m_h;
};

} // namespace tarnwick::odbc
