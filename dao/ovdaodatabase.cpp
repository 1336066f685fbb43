#include "dao/ovdaodatabase.h"

#include "automation/classregistry.h"
#include "automation/threaduse.h"
#include "daoengine/odbc.h"
#include "platform/inikeystore.h"

using namespace tarnwick;
using namespace tarnwick::automation;

namespace {

const char* const kNoDao = "Cannot find DAO on your system!";
const char* const kOldDao = "You does not have Microsoft DAO installed ot it is an OLD Version!";

// Keys are opened, never created; one that cannot be opened counts as missing.
bool openMachineKey(IniKeyStore& r, const QString& key) {
    return r.openKey(key, false);
}

// Where the machine store keeps an engine version's settings (Engines, ISAM Formats).
QString engineKey(const QString& version) {
    if (version == QLatin1String("12.0"))
        return QStringLiteral("SOFTWARE\\Microsoft\\Office\\12.0\\Access Connectivity Engine");
    return QStringLiteral("SOFTWARE\\Microsoft\\JET\\") +
           (version == QLatin1String("3.6") ? QStringLiteral("4.0") : QStringLiteral("3.5"));
}

// "3.61" is 3.6; the ACE engine's version has two digits before its point.
QString versionOf(const QString& asked) {
    return asked.startsWith(QLatin1String("12")) ? QStringLiteral("12.0") : asked.left(3);
}

} // namespace

TOvDaoDatabase::TOvDaoDatabase(QObject* owner) : TComponent(owner) {
    m_componentVersion = QStringLiteral("4.50");
    enterAutomation();
    m_privateEngine = true;
    detectEngineVersions();
    if (m_availableVersions.isEmpty()) {
        if (m_automationEntered) LeaveAutomation();
        throw EDatabaseError(QString::fromLatin1(kNoDao));
    }
    try {
        m_version = m_availableVersions.front();
        createEngine(m_version);
        m_systemDatabase = DefaultSystemDatabase();
        if (!m_systemDatabase.isEmpty())
            Put(m_engine, QStringLiteral("SystemDB"), m_systemDatabase);
        m_userName = QStringLiteral("Admin");
        m_saveUserName = true;
        Put(m_engine, QStringLiteral("DefaultUser"), m_userName);
        Put(m_engine, QStringLiteral("DefaultPassword"), QString());
        m_engineType = 2;
        Put(m_engine, QStringLiteral("DefaultType"), m_engineType);
        m_defaultCursorDriver = -1;
        m_workspace = QStringLiteral("DaoWorkspace");
        m_versionDetails = Get(m_engine, QStringLiteral("Version")).toString();
        m_versionInfo.clear();
        applyVersionInfo();
        m_databaseType = QStringLiteral("Access");
        m_loginDialog = dao::CreateLoginDialog();
        m_queryTimeout = 60;
        loadLists();
    } catch (...) {
        m_engine.reset();
        if (m_automationEntered) LeaveAutomation();
        throw;
    }
}

TOvDaoDatabase::~TOvDaoDatabase() {
    if (m_connected) {
        try {
            close();
        } catch (const std::exception& e) {
            qWarning("Closing the database failed: %s", e.what());
        }
    }
    m_loginDialog.reset();
    if (m_workspaceObject) {
        try {
            Call(m_workspaceObject, QStringLiteral("Close"));
        } catch (const std::exception& e) {
            qWarning("Closing the workspace failed: %s", e.what());
        }
    }
    m_databaseObject.reset();
    m_workspaceObject.reset();
    m_engine.reset();
    if (m_automationEntered) LeaveAutomation();
}

void TOvDaoDatabase::enterAutomation() {
    EnterAutomation();
    m_automationEntered = true;
}

QString TOvDaoDatabase::progId(const QString& version) const {
    const QString minor = version == QLatin1String("3.5")    ? QStringLiteral("35")
                          : version == QLatin1String("12.0") ? QStringLiteral("120")
                                                             : QStringLiteral("36");
    return (m_privateEngine ? QStringLiteral("DAO.PrivateDBEngine.")
                            : QStringLiteral("DAO.DBEngine.")) +
           minor;
}

void TOvDaoDatabase::detectEngineVersions() {
    m_availableVersions.clear();
    for (const QString& v :
         {QStringLiteral("3.5"), QStringLiteral("3.6"), QStringLiteral("12.0")}) {
        const QString id = progId(v);
        if (!IniKeyStore(reg::CLASSES_ROOT).keyExists(id)) continue;
        try {
            Dispatch probe = CreateAutomationObject(id);
            probe.reset();
            m_availableVersions.append(v);
        } catch (const std::exception&) {
            // an engine that cannot be created is simply not available
        }
    }
}

void TOvDaoDatabase::createEngine(const QString& version) {
    m_usesDynaDao = true;
    if (version == QLatin1String("3.5")) {
        try {
            m_engine = CreateAutomationObject(progId(QStringLiteral("3.5")));
            m_version = QStringLiteral("3.5");
        } catch (const std::exception&) {
            try {
                m_engine = CreateAutomationObject(progId(QStringLiteral("3.6")));
                m_version = QStringLiteral("3.6");
            } catch (const std::exception&) {
                throw EDatabaseError(QString::fromLatin1(kOldDao));
            }
        }
    } else if (version == QLatin1String("3.6") || version == QLatin1String("12.0")) {
        try {
            m_engine = CreateAutomationObject(progId(version));
            m_version = version;
        } catch (const std::exception&) {
            throw EDatabaseError(QString::fromLatin1(kOldDao));
        }
    }
}

void TOvDaoDatabase::applyVersionInfo() {
    if (m_versionDetails.size() < 3) return;
    if (m_versionDetails.startsWith(QLatin1String("12.")))
        m_versionInfo = QStringLiteral("(In Access'2007 mode)");
    else if (m_versionDetails[2] == QLatin1Char('5'))
        m_versionInfo = QStringLiteral("(In Access'97 mode)");
    else if (m_versionDetails[2] == QLatin1Char('6'))
        m_versionInfo = QStringLiteral("(In Access'2000 mode)");
}

void TOvDaoDatabase::rebuildEngine() {
    if (m_workspaceObject) {
        Dispatch ws = std::move(m_workspaceObject);
        Call(ws, QStringLiteral("Close"));
    }
    m_engine.reset();
    if (m_automationEntered) {
        LeaveAutomation();
        m_automationEntered = false;
    }
    enterAutomation();
    createEngine(m_version);
    Put(m_engine, QStringLiteral("SystemDB"), m_systemDatabase);
    m_versionDetails = Get(m_engine, QStringLiteral("Version")).toString();
    applyVersionInfo();
    Put(m_engine, QStringLiteral("DefaultUser"), m_userName);
    Put(m_engine, QStringLiteral("DefaultPassword"), m_password);
    Put(m_engine, QStringLiteral("DefaultType"), m_engineType);
    m_workspaceObject = ToDispatch(Call(m_engine, QStringLiteral("CreateWorkspace"),
                                        {m_workspace, m_userName, m_password, m_engineType}));
    Call(ToDispatch(Get(m_engine, QStringLiteral("Workspaces"))), QStringLiteral("Append"),
         {ToVariant(m_workspaceObject)});
    if (m_engineType == 1)
        Put(m_workspaceObject, QStringLiteral("DefaultCursorDriver"), m_defaultCursorDriver);
    m_workspace = Get(m_workspaceObject, QStringLiteral("Name")).toString();
}

template <typename T> void TOvDaoDatabase::rebuildWithRollback(T& field, T value) {
    T old = field;
    field = std::move(value);
    try {
        rebuildEngine();
    } catch (...) {
        field = std::move(old);
        rebuildEngine(); // an error here leaves instead of the first one
        throw;
    }
}

void TOvDaoDatabase::rebuildIgnoringFailure() {
    if (IsLoading()) return;
    try {
        rebuildEngine();
    } catch (const std::exception&) {
        // the values are kept; the next rebuild or connection reports what is wrong
    }
}

void TOvDaoDatabase::guard(const char* message) const {
    if (m_connected) throw EDatabaseError(QString::fromLatin1(message));
}

QString TOvDaoDatabase::DefaultSystemDatabase() const {
    IniKeyStore r(reg::LOCAL_MACHINE);
    if (!openMachineKey(r, engineKey(m_version) + QStringLiteral("\\Engines"))) return {};
    return r.readString(QStringLiteral("SystemDB")).value_or(QString());
}

void TOvDaoDatabase::LoadDatabaseTypes() {
    IniKeyStore r(reg::LOCAL_MACHINE);
    // Only the ISAM formats of the current version are listed; a version without any lists
    // none rather than those of the previous one.
    m_databaseTypes.clear();
    if ((m_version == QLatin1String("3.5") || m_version == QLatin1String("3.6") ||
         m_version == QLatin1String("12.0")) &&
        openMachineKey(r, engineKey(m_version) + QStringLiteral("\\ISAM Formats")))
        m_databaseTypes = r.keyNames();
    m_databaseTypes.prepend(QStringLiteral("ODBC"));
    m_databaseTypes.prepend(QStringLiteral("Access"));
}

void TOvDaoDatabase::loadLists() {
    LoadDatabaseTypes();
    m_odbcDrivers = odbc::drivers();
    m_systemDataSources = odbc::dataSources(odbc::Scope::System);
    m_userDataSources = odbc::dataSources(odbc::Scope::User);
    m_dataSourcePaths.clear();
    for (const QString& name : m_userDataSources) {
        const QString file = odbc::dataSourceFile(name, odbc::Scope::User);
        if (!file.isEmpty()) m_dataSourcePaths.append(name + QLatin1Char('=') + file);
    }
    for (const QString& name : m_systemDataSources) {
        const QString file = odbc::dataSourceFile(name, odbc::Scope::System);
        if (!file.isEmpty()) m_dataSourcePaths.append(name + QLatin1Char('=') + file);
    }
}

// Setters

void TOvDaoDatabase::SetExclusive(bool v) {
    guard("TOvDaoDatabase.F_Set_Exclusive: Cannot change Exclusive mode while Database is "
          "connected!");
    m_exclusive = v;
}

void TOvDaoDatabase::SetDatabaseType(const QString& v) {
    guard(
        "TOvDaoDatabase.F_Set_DatabaseType: Cannot set Database Type while Database is connected!");
    m_database.clear();
    m_databaseType = v;
}

void TOvDaoDatabase::SetDatabase(const QString& v) {
    guard("TOvDaoDatabase.F_Set_Database: Cannot set Database while Database is connected!");
    m_database = v;
}

void TOvDaoDatabase::SetReadOnly(bool v) {
    guard("TOvDaoDatabase.F_Set_ReadOnly: Cannot change mode while Database is connected!");
    m_readOnly = v;
}

void TOvDaoDatabase::SetLoginPrompt(bool v) {
    guard(
        "TOvDaoDatabase.F_Set_LoginPrompt: Cannot change LoginPrompt while Database is connected!");
    m_loginPrompt = v;
}

void TOvDaoDatabase::SetUserName(const QString& v) {
    guard("TOvDaoDatabase.F_Set_UserName: Cannot change User Name while Database is connected!");
    m_userName = v;
    rebuildIgnoringFailure();
}

void TOvDaoDatabase::SetPassword(const QString& v) {
    guard("TOvDaoDatabase.F_Set_Password: Cannot change Password while Database is connected!");
    m_password = v;
    rebuildIgnoringFailure();
}

void TOvDaoDatabase::SetDatabasePassword(const QString& v) {
    guard("TOvDaoDatabase.F_Set_DatabasePassword: Cannot change Database Password while Database "
          "is connected!");
    m_databasePassword = v;
}

void TOvDaoDatabase::SetSystemDatabase(const QString& v) {
    guard("TOvDaoDatabase.F_Set_SystemDatabase: Cannot set SystemDatabase while Database is "
          "connected!");
    const QString value = v.isEmpty() ? DefaultSystemDatabase() : v;
    if (IsLoading())
        m_systemDatabase = value;
    else
        rebuildWithRollback(m_systemDatabase, value);
}

void TOvDaoDatabase::SetEngineType(int v) {
    guard(
        "TOvDaoDatabase.F_Set_EngineType: Cannot set EngineType Type while Database is connected!");
    if (IsLoading())
        m_engineType = v;
    else
        rebuildWithRollback(m_engineType, v);
}

void TOvDaoDatabase::SetPrivateEngine(bool v) {
    guard("TOvDaoDatabase.F_Set_EngineType: Cannot set PrivateEngine Type while Database is "
          "connected!");
    if (IsLoading())
        m_privateEngine = v;
    else
        rebuildWithRollback(m_privateEngine, v);
}

void TOvDaoDatabase::SetVersion(const QString& v) {
    guard("TOvDaoDatabase.F_Set_DaoVersion: Cannot set Dao Version while Database is connected!");
    if (IsLoading()) {
        m_version = versionOf(v);
        return;
    }
    rebuildWithRollback(m_version, versionOf(v));
    m_versionDetails = Get(m_engine, QStringLiteral("Version")).toString();
    LoadDatabaseTypes();
}

void TOvDaoDatabase::SetWorkspace(const QString& v) {
    guard("TOvDaoDatabase.F_Set_Workspace: Cannot set Workspace while Database is connected!");
    // The one setter that rebuilds while the window is read in: the values before it are in place.
    rebuildWithRollback(m_workspace, v);
}

void TOvDaoDatabase::SetDefaultCursorDriver(int v) {
    m_defaultCursorDriver = v;
    if (!IsLoading() && m_engineType == 1 && m_workspaceObject)
        Put(m_workspaceObject, QStringLiteral("DefaultCursorDriver"), v);
}
