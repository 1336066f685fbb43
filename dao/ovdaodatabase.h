#pragma once

#include "automation/dispatch.h"
#include "dao/databaseerror.h"
#include "dao/dblogin.h"
#include "runtime/component.h"

#include <QStringList>

#include <memory>

// procedure(Database: TOvDaoDatabase; LoginParams: TStrings)
T_DECLARE_EVENT(TLoginEvent, QObject*, QStringList*)

// The DAO database component: binds the DAO engine of the chosen version ("3.5", "3.6" or
// "12.0") through automation objects, opens a workspace on it, compacts and repairs closed database
// files, and can open a database itself (Connected). While connected, the connection settings
// refuse changes.
class TOvDaoDatabase : public TComponent {
    Q_OBJECT
    // Declaration order is the order in which a window description restores them.
    Q_PROPERTY(QString ComponentVersion READ ComponentVersion WRITE SetComponentVersion)
    Q_PROPERTY(bool Exclusive READ Exclusive WRITE SetExclusive)
    Q_PROPERTY(QString DatabaseLanguage READ DatabaseLanguage WRITE SetDatabaseLanguage)
    Q_PROPERTY(QString DatabaseType READ DatabaseType WRITE SetDatabaseType)
    Q_PROPERTY(QString Database READ Database WRITE SetDatabase)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(bool LoginPrompt READ LoginPrompt WRITE SetLoginPrompt)
    Q_PROPERTY(QString UserName READ UserName WRITE SetUserName)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
    Q_PROPERTY(QString DatabasePassword READ DatabasePassword WRITE SetDatabasePassword)
    Q_PROPERTY(QString SystemDatabase READ SystemDatabase WRITE SetSystemDatabase)
    Q_PROPERTY(bool SaveUserName READ SaveUserName WRITE SetSaveUserName)
    Q_PROPERTY(int EngineType READ EngineType WRITE SetEngineType)
    Q_PROPERTY(bool PrivateEngine READ PrivateEngine WRITE SetPrivateEngine)
    Q_PROPERTY(bool UsesDynaDao READ UsesDynaDao WRITE SetUsesDynaDao)
    Q_PROPERTY(QString Version READ Version WRITE SetVersion)
    Q_PROPERTY(QString VersionDetails READ VersionDetails WRITE SetVersionDetails)
    Q_PROPERTY(QString VersionInfo READ VersionInfo WRITE SetVersionInfo)
    Q_PROPERTY(QString Workspace READ Workspace WRITE SetWorkspace)
    Q_PROPERTY(int DefaultCursorDriver READ DefaultCursorDriver WRITE SetDefaultCursorDriver)
    Q_PROPERTY(int QueryTimeout READ QueryTimeout WRITE SetQueryTimeout)
    Q_PROPERTY(TLoginEvent OnLogin READ OnLogin WRITE SetOnLogin)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected)
public:
    explicit TOvDaoDatabase(QObject* owner = nullptr);
    ~TOvDaoDatabase() override;

    QString ComponentVersion() const { return m_componentVersion; }
    void SetComponentVersion(const QString&) {}
    bool Exclusive() const { return m_exclusive; }
    void SetExclusive(bool v);
    QString DatabaseLanguage();
    void SetDatabaseLanguage(const QString& v) { m_databaseLanguage = v; }
    QString DatabaseType() const { return m_databaseType; }
    void SetDatabaseType(const QString& v);
    QString Database() const { return m_database; }
    void SetDatabase(const QString& v);
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool v);
    bool LoginPrompt() const { return m_loginPrompt; }
    void SetLoginPrompt(bool v);
    QString UserName() const { return m_userName; }
    void SetUserName(const QString& v);
    QString Password() const { return m_password; }
    void SetPassword(const QString& v);
    QString DatabasePassword() const { return m_databasePassword; }
    void SetDatabasePassword(const QString& v);
    QString SystemDatabase() const { return m_systemDatabase; }
    void SetSystemDatabase(const QString& v);
    bool SaveUserName() const { return m_saveUserName; }
    void SetSaveUserName(bool v) { m_saveUserName = v; }
    int EngineType() const { return m_engineType; }
    void SetEngineType(int v);
    bool PrivateEngine() const { return m_privateEngine; }
    void SetPrivateEngine(bool v);
    bool UsesDynaDao() const { return m_usesDynaDao; }
    void SetUsesDynaDao(bool) {}
    QString Version() const { return m_version; }
    void SetVersion(const QString& v);
    QString VersionDetails() const { return m_versionDetails; }
    void SetVersionDetails(const QString&) {}
    QString VersionInfo() const { return m_versionInfo; }
    void SetVersionInfo(const QString&) {}
    QString Workspace() const { return m_workspace; }
    void SetWorkspace(const QString& v);
    int DefaultCursorDriver() const { return m_defaultCursorDriver; }
    void SetDefaultCursorDriver(int v);
    int QueryTimeout() const { return m_queryTimeout; }
    void SetQueryTimeout(int v) { m_queryTimeout = v; }
    TLoginEvent OnLogin() const { return m_onLogin; }
    void SetOnLogin(const TLoginEvent& e) { m_onLogin = e; }
    bool Connected() const { return m_connected; }
    void SetConnected(bool v);

    // Lists read at construction and on connecting.
    const QStringList& DatabaseTypes() const { return m_databaseTypes; }
    const QStringList& OdbcDrivers() const { return m_odbcDrivers; }
    const QStringList& SystemDataSources() const { return m_systemDataSources; }
    const QStringList& UserDataSources() const { return m_userDataSources; }
    const QStringList& DataSourcePaths() const { return m_dataSourcePaths; }
    const QStringList& TableNames() const { return m_tableNames; }
    const QStringList& QueryNames() const { return m_queryNames; }
    QStringList& PresetLogin() { return m_presetLogin; }
    int CollatingCode() const { return m_collatingCode; }
    const tarnwick::automation::Dispatch& EngineObject() const { return m_engine; }
    const tarnwick::automation::Dispatch& WorkspaceObject() const { return m_workspaceObject; }
    const tarnwick::automation::Dispatch& DatabaseObject() const { return m_databaseObject; }

    // The workgroup file registered for the current version ("" when none is).
    QString DefaultSystemDatabase() const;
    void LoadDatabaseTypes();

    // Repairs a closed file in place (the 3.6 and 12.0 engines, which have no repair of their
    // own, compact).
    void RepairDatabaseFile(const QString& fileName, const QString& password);
    // Compacts a closed file in place through a temporary file beside it.
    void CompactDatabaseFile(const QString& fileName, const QString& password);
    void CompactDatabaseFileWithOptions(const QString& fileName, const QString& locale,
                                        bool encrypt, bool decrypt, int version,
                                        const QString& password);
    // The options value the engine gets: 2 encrypt, 4 decrypt (never both), plus `version`.
    static int CompactOptionsValue(bool encrypt, bool decrypt, int version);

private:
    void enterAutomation();
    void detectEngineVersions();
    void createEngine(const QString& version);
    void rebuildEngine();
    void applyVersionInfo();
    void loadLists();
    void guard(const char* message) const;
    template <typename T> void rebuildWithRollback(T& field, T value);
    void rebuildIgnoringFailure();
    QString progId(const QString& version) const;

    void open();
    void close();
    void obtainLogin(bool& cancelled, bool& fromDialog);
    tarnwick::automation::Dispatch openByType();
    void refreshDefinitions();
    void compactThroughTemp(const char* operation, const QString& fileName, const QString& password,
                            const QVariant& locale, const QVariant& options);

    QString m_componentVersion;
    bool m_exclusive = false;
    QString m_databaseLanguage;
    QString m_databaseType;
    QString m_database;
    bool m_readOnly = false;
    bool m_loginPrompt = false;
    QString m_userName, m_password, m_databasePassword, m_systemDatabase;
    bool m_saveUserName = true;
    int m_engineType = 2;
    bool m_privateEngine = true;
    bool m_usesDynaDao = false;
    QString m_version, m_versionDetails, m_versionInfo, m_workspace;
    int m_defaultCursorDriver = -1;
    int m_queryTimeout = 60;
    TLoginEvent m_onLogin;
    bool m_connected = false;

    tarnwick::automation::Dispatch m_engine, m_workspaceObject, m_databaseObject;
    bool m_automationEntered = false;
    QStringList m_availableVersions, m_databaseTypes, m_odbcDrivers, m_systemDataSources,
        m_userDataSources, m_dataSourcePaths, m_tableNames, m_queryNames, m_presetLogin;
    int m_collatingCode = 0;
    std::unique_ptr<tarnwick::dao::LoginDialog> m_loginDialog;
};
