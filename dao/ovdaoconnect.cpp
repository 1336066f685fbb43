// Opening and closing a database through the workspace.

#include "dao/ovdaodatabase.h"

#include <QHash>

using namespace tarnwick;
using namespace tarnwick::automation;

namespace {

const QString kUser = QStringLiteral("USER NAME");
const QString kPassword = QStringLiteral("PASSWORD");
const QString kDbPassword = QStringLiteral("DBPASSWORD");

// The value of "name=value" in a list of login lines, names matched without regard to case.
QString loginValue(const QStringList& lines, const QString& name) {
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && line.left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return {};
}

QString languageOf(int code) {
    static const QHash<int, QString> names{
        {1024, QStringLiteral("Neutral")},
        {1025, QStringLiteral("Arabic")},
        {1028, QStringLiteral("Traditional Chinese")},
        {1029, QStringLiteral("Czech")},
        {1030, QStringLiteral("Norwegian or Danish")},
        {1032, QStringLiteral("Greek")},
        {1033, QStringLiteral("General (English, French, German, Portuguese, Italian, and Modern "
                              "Spanish)")},
        {1034, QStringLiteral("Spanish")},
        {1037, QStringLiteral("Hebrew")},
        {1038, QStringLiteral("Hungarian")},
        {1039, QStringLiteral("Icelandic")},
        {1041, QStringLiteral("Japanese")},
        {1042, QStringLiteral("Korean")},
        {1043, QStringLiteral("Dutch")},
        {1045, QStringLiteral("Polish")},
        {1049, QStringLiteral("Bulgarian or Russian")},
        {1053, QStringLiteral("Swedish or Finnish")},
        {1054, QStringLiteral("Thai")},
        {1055, QStringLiteral("Turkish")},
        {1060, QStringLiteral("Slovenian")},
        {2052, QStringLiteral("Simplified Chinese")},
        {-1, QStringLiteral("Undefined or unknown")},
    };
    return names.value(code);
}

} // namespace

QString TOvDaoDatabase::DatabaseLanguage() {
    if (!m_connected) {
        m_collatingCode = 0;
        return {};
    }
    try {
        m_collatingCode = Get(m_databaseObject, QStringLiteral("CollatingOrder")).toInt();
    } catch (const std::exception&) {
        m_collatingCode = -1;
    }
    m_databaseLanguage = languageOf(m_collatingCode);
    return m_databaseLanguage;
}

void TOvDaoDatabase::SetConnected(bool v) {
    if (v == m_connected) return;
    if (v)
        open();
    else
        close();
}

// Takes the login values from the handler, the preset lines or the dialog. `cancelled` tells
// that the user cancelled the dialog; `fromDialog` that the user can be asked again.
void TOvDaoDatabase::obtainLogin(bool& cancelled, bool& fromDialog) {
    cancelled = fromDialog = false;
    const auto take = [this](const QStringList& lines) {
        m_userName = loginValue(lines, kUser);
        m_password = loginValue(lines, kPassword);
        m_databasePassword = loginValue(lines, kDbPassword);
    };
    const auto askHandler = [&] {
        QStringList lines{kUser + QLatin1Char('=') + m_userName,
                          kPassword + QLatin1Char('=') + m_password,
                          kDbPassword + QLatin1Char('=') + m_databasePassword};
        m_onLogin(this, &lines);
        take(lines);
    };
    if (m_loginPrompt) {
        if (m_onLogin.Assigned()) {
            askHandler();
        } else if (m_presetLogin.isEmpty()) {
            fromDialog = true;
            dao::LoginValues values{m_saveUserName ? m_userName : QString(), {}, {}};
            if (m_loginDialog->Execute(m_database, values)) {
                m_userName = values.userName;
                m_password = values.password;
                m_databasePassword = values.databasePassword;
            } else {
                m_loginDialog->ShowMessage(QStringLiteral("If You not enter Username and Password "
                                                          "You may not gain access to your data!"));
                m_userName.clear();
                m_password.clear();
                m_databasePassword.clear();
                cancelled = true;
            }
        } else {
            take(m_presetLogin);
        }
    } else if (m_onLogin.Assigned()) {
        askHandler();
    } else if (!m_presetLogin.isEmpty()) {
        take(m_presetLogin);
    }
}

void TOvDaoDatabase::open() {
    if (m_database.isEmpty())
        throw EDatabaseError(
            QStringLiteral("TOvDaoDatabase.F_Set_Active: Database property is not defined!"));
    if (m_databaseType.isEmpty())
        throw EDatabaseError(
            QStringLiteral("TOvDaoDatabase.F_Set_Active: DatabaseType property is not defined!"));
    for (;;) {
        bool cancelled = false, fromDialog = false;
        obtainLogin(cancelled, fromDialog);
        try {
            rebuildEngine();
            break;
        } catch (const std::exception& e) {
            if (!m_loginPrompt) throw;
            if (cancelled) return;
            // Only a person at the dialog can give other values; a handler or preset lines would
            // fail the same way for ever.
            if (!fromDialog) throw;
            m_loginDialog->ShowMessage(QString::fromUtf8(e.what()));
        }
    }
    m_databaseObject = openByType();
    if (m_queryTimeout != 60) Put(m_databaseObject, QStringLiteral("QueryTimeout"), m_queryTimeout);
    refreshDefinitions();
    m_connected = true;
    DatabaseLanguage();
    Call(m_engine, QStringLiteral("Idle"), {8});
}

Dispatch TOvDaoDatabase::openByType() {
    if (m_databaseType.compare(QLatin1String("Access"), Qt::CaseInsensitive) == 0) {
        if (m_engineType != 2)
            throw EDatabaseError(QStringLiteral("TOvDaoDatabase.F_Set_Active: ODBC direct "
                                                "workspaces\nare NOT supported for MS Access "
                                                "Databases!"));
        const QString connect =
            QStringLiteral(";UID=%1;PWD=%2").arg(m_userName, m_databasePassword);
        return ToDispatch(
            Call(m_workspaceObject, QStringLiteral("OpenDatabase"),
                 {m_database, AutomationBool(m_exclusive), AutomationBool(m_readOnly), connect}));
    }
    if (m_databaseType.compare(QLatin1String("ODBC"), Qt::CaseInsensitive) == 0) {
        const QString connect = QStringLiteral("%1;UID=%2;PWD=%3;DSN=%4")
                                    .arg(m_databaseType, m_userName, m_password, m_database);
        const QString method =
            m_engineType == 2 ? QStringLiteral("OpenDatabase") : QStringLiteral("OpenConnection");
        return ToDispatch(
            Call(m_workspaceObject, method, {m_database, 1, AutomationBool(m_readOnly), connect}));
    }
    if (m_engineType != 2)
        throw EDatabaseError(
            QStringLiteral("TOvDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported!"));
    const QString connect =
        !m_password.isEmpty() && !m_userName.isEmpty()
            ? QStringLiteral("%1;UID=%2;PWD=%3").arg(m_databaseType, m_userName, m_password)
            : m_databaseType;
    return ToDispatch(
        Call(m_workspaceObject, QStringLiteral("OpenDatabase"),
             {m_database, AutomationBool(m_exclusive), AutomationBool(m_readOnly), connect}));
}

void TOvDaoDatabase::refreshDefinitions() {
    m_tableNames.clear();
    m_queryNames.clear();
    const auto refresh = [](const Dispatch& owner, const char* name) {
        try {
            Call(ToDispatch(Get(owner, QString::fromLatin1(name))), QStringLiteral("Refresh"));
        } catch (const std::exception&) {
            // a collection that cannot be refreshed is skipped
        }
    };
    for (const char* name :
         {"TableDefs", "QueryDefs", "Containers", "Relations", "Recordsets", "Properties"})
        refresh(m_databaseObject, name);
    for (const char* name : {"Errors", "Workspaces", "Properties"})
        refresh(m_engine, name);
    for (const char* name : {"Users", "Groups", "Databases", "Properties"})
        refresh(m_workspaceObject, name);

    const Dispatch tables = ToDispatch(Get(m_databaseObject, QStringLiteral("TableDefs")));
    const int tableCount = Get(tables, QStringLiteral("Count")).toInt();
    for (int i = 0; i < tableCount; ++i) {
        const Dispatch def = ToDispatch(Call(tables, QStringLiteral("Item"), {i}));
        const quint32 attributes = Get(def, QStringLiteral("Attributes")).toUInt();
        if ((attributes & 0x80000002u) == 0)
            m_tableNames.append(Get(def, QStringLiteral("Name")).toString());
    }
    const Dispatch queries = ToDispatch(Get(m_databaseObject, QStringLiteral("QueryDefs")));
    const int queryCount = Get(queries, QStringLiteral("Count")).toInt();
    for (int i = 0; i < queryCount; ++i)
        m_queryNames.append(
            Get(ToDispatch(Call(queries, QStringLiteral("Item"), {i})), QStringLiteral("Name"))
                .toString());
}

void TOvDaoDatabase::close() {
    m_tableNames.clear();
    m_queryNames.clear();
    Dispatch db = std::move(m_databaseObject);
    m_connected = false;
    Call(db, QStringLiteral("Close"));
}
