#include "daoengine/odbc.h"

#include "automation/automationerror.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <vector>

namespace tarnwick::odbc {

using automation::EAutomationError;

namespace {

QString text(const SQLCHAR* s) {
    return QString::fromUtf8(reinterpret_cast<const char*>(s));
}

QString diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    QStringList lines;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR msg[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, msg, sizeof msg, &len)))
            break;
        lines.append(QStringLiteral("%1 (%2)").arg(text(msg), text(state)));
    }
    return lines.isEmpty() ? QStringLiteral("unknown ODBC error") : lines.join(QLatin1Char('\n'));
}

// An environment handle for ODBC 3, freed on leaving.
struct Env {
    SQLHENV h = SQL_NULL_HENV;
    Env() {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
            throw EAutomationError(QStringLiteral("The ODBC environment cannot be created."));
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    ~Env() { SQLFreeHandle(SQL_HANDLE_ENV, h); }
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
};

} // namespace

QStringList drivers() {
    QStringList names;
    try {
        Env env;
        SQLUSMALLINT direction = SQL_FETCH_FIRST;
        SQLCHAR name[512];
        SQLCHAR attrs[2048];
        SQLSMALLINT nameLen = 0, attrsLen = 0;
        while (SQL_SUCCEEDED(SQLDrivers(env.h, direction, name, sizeof name, &nameLen, attrs,
                                        sizeof attrs, &attrsLen))) {
            names.append(text(name));
            direction = SQL_FETCH_NEXT;
        }
    } catch (const EAutomationError&) {
    }
    return names;
}

QStringList dataSources(Scope scope) {
    QStringList names;
    try {
        Env env;
        SQLUSMALLINT direction =
            scope == Scope::User ? SQL_FETCH_FIRST_USER : SQL_FETCH_FIRST_SYSTEM;
        SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
        SQLCHAR description[512];
        SQLSMALLINT nameLen = 0, descLen = 0;
        while (SQL_SUCCEEDED(SQLDataSources(env.h, direction, name, sizeof name, &nameLen,
                                            description, sizeof description, &descLen))) {
            names.append(text(name));
            direction = SQL_FETCH_NEXT;
        }
    } catch (const EAutomationError&) {
    }
    return names;
}

QString dataSourceFile(const QString& name, Scope scope) {
    UWORD oldMode = ODBC_BOTH_DSN;
    SQLGetConfigMode(&oldMode);
    SQLSetConfigMode(scope == Scope::User ? ODBC_USER_DSN : ODBC_SYSTEM_DSN);
    QString file;
    const QByteArray section = name.toUtf8();
    for (const char* key : {"Database", "DBQ"}) {
        char value[4096] = {};
        const int n = SQLGetPrivateProfileString(section.constData(), key, "", value, sizeof value,
                                                 "odbc.ini");
        if (n > 0 && value[0] != '\0') {
            file = QString::fromUtf8(value);
            break;
        }
    }
    SQLSetConfigMode(oldMode);
    return file;
}

struct Connection::Handles {
    Env env;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    ~Handles() {
        if (connected) SQLDisconnect(dbc);
        if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
};

Connection::Connection(const QString& connect) : m_h(std::make_unique<Handles>()) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, m_h->env.h, &m_h->dbc)))
        throw EAutomationError(QStringLiteral("An ODBC connection cannot be created."));
    QByteArray in = connect.toUtf8();
    SQLCHAR out[1024];
    SQLSMALLINT outLen = 0;
    const SQLRETURN rc = SQLDriverConnect(m_h->dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                          static_cast<SQLSMALLINT>(in.size()), out, sizeof out,
                                          &outLen, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc))
        throw EAutomationError(QStringLiteral("ODBC connection failed: %1")
                                   .arg(diagnostics(SQL_HANDLE_DBC, m_h->dbc)));
    m_h->connected = true;
}

Connection::~Connection() = default;

QList<Connection::Table> Connection::tables() const {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_h->dbc, &stmt)))
        throw EAutomationError(QStringLiteral("ODBC statement cannot be created: %1")
                                   .arg(diagnostics(SQL_HANDLE_DBC, m_h->dbc)));
    QList<Table> result;
    QString error;
    if (SQL_SUCCEEDED(SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
        SQLCHAR name[512], type[64];
        SQLLEN nameLen = 0, typeLen = 0;
        SQLBindCol(stmt, 3, SQL_C_CHAR, name, sizeof name, &nameLen);
        SQLBindCol(stmt, 4, SQL_C_CHAR, type, sizeof type, &typeLen);
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            if (nameLen == SQL_NULL_DATA) continue;
            const QString kind = typeLen == SQL_NULL_DATA ? QString() : text(type);
            if (kind == QLatin1String("TABLE") || kind == QLatin1String("VIEW"))
                result.append({text(name), false});
            else if (kind == QLatin1String("SYSTEM TABLE"))
                result.append({text(name), true});
        }
    } else {
        error = diagnostics(SQL_HANDLE_STMT, stmt);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (!error.isEmpty())
        throw EAutomationError(QStringLiteral("ODBC table list failed: %1").arg(error));
    return result;
}

} // namespace tarnwick::odbc
