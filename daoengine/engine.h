#pragma once

#include "automation/dispatch.h"
#include "daoengine/dbfile.h"

#include <QStringList>

namespace tarnwick::daoengine {

// The DAO engine over our Jet engine. The 3.5 engine (Access 97) reads and writes Jet 3 files
// only and says a Jet 4 file's format is not recognised; the 3.6 engine handles both, and the
// 12.0 engine (Access 2007) ACE files too. Each keeps a compacted file in its format.
class DBEngine : public automation::AutomationObject {
    Q_OBJECT
    Q_PROPERTY(QString SystemDB READ SystemDB WRITE SetSystemDB)
    Q_PROPERTY(QString DefaultUser READ DefaultUser WRITE SetDefaultUser)
    Q_PROPERTY(QString DefaultPassword READ DefaultPassword WRITE SetDefaultPassword)
    Q_PROPERTY(int DefaultType READ DefaultType WRITE SetDefaultType)
    Q_PROPERTY(QString Version READ Version)
    // The memory budget of a compaction in MiB (0: the engine's default).
    Q_PROPERTY(int CompactMemoryMiB READ CompactMemoryMiB WRITE SetCompactMemoryMiB)
public:
    explicit DBEngine(EngineVersion engine) : m_engine(engine) {}

    QString SystemDB() const { return m_systemDb; }
    void SetSystemDB(const QString& path) { m_systemDb = path; }
    QString DefaultUser() const { return m_user; }
    void SetDefaultUser(const QString& user) { m_user = user; }
    QString DefaultPassword() const { return m_password; }
    void SetDefaultPassword(const QString& password) { m_password = password; }
    int DefaultType() const { return m_type; }
    void SetDefaultType(int type);
    QString Version() const;
    int CompactMemoryMiB() const { return m_compactMemory; }
    void SetCompactMemoryMiB(int mib) { m_compactMemory = mib > 0 ? mib : 0; }

    // Without a workgroup file's users, the one account is "Admin" with an empty password.
    Q_INVOKABLE QVariant CreateWorkspace(QVariant name, QVariant user, QVariant password,
                                         QVariant type);
    Q_INVOKABLE QVariant Workspaces();
    Q_INVOKABLE QVariant Errors();
    Q_INVOKABLE QVariant Properties();
    Q_INVOKABLE void Idle(QVariant action);
    Q_INVOKABLE void RepairDatabase(QVariant name);
    // options: 2 encrypt, 4 decrypt, plus a format-version constant (64 = Jet 4, 32 = Jet 3).
    // An ACE file encrypted with a database password is refused, as every command refuses it.
    Q_INVOKABLE void CompactDatabase(QVariant source, QVariant destination, QVariant locale,
                                     QVariant options, QVariant connect);

private:
    EngineVersion m_engine;
    QString m_systemDb, m_user = QStringLiteral("admin"), m_password;
    int m_type = 2;
    int m_compactMemory = 0;
    automation::Dispatch m_workspaces, m_errors, m_properties;
};

// The classes this program provides, by ProgID ("DAO.DBEngine.36", "DAO.PrivateDBEngine.120", ...).
QStringList EngineProgIds();
// The engine version a ProgID of that list names (its last part: 35, 36 or 120).
EngineVersion EngineVersionOf(const QString& progId);
// Registers them with the automation layer (the program does this at start).
void RegisterEngineClasses();

} // namespace tarnwick::daoengine
