#pragma once

#include "automation/dispatch.h"
#include "daoengine/dbfile.h"

namespace tarnwick::daoengine {

// Workspace types as DAO numbers them.
constexpr int useOdbc = 1;
constexpr int useJet = 2;

// A session of one user on the engine: opens databases and ODBC connections.
class Workspace : public automation::AutomationObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name)
    Q_PROPERTY(QString UserName READ UserName)
    Q_PROPERTY(int Type READ Type)
    Q_PROPERTY(int DefaultCursorDriver READ DefaultCursorDriver WRITE SetDefaultCursorDriver)
public:
    Workspace(EngineVersion engine, QString name, QString user, int type);

    QString Name() const { return m_name; }
    QString UserName() const { return m_user; }
    int Type() const { return m_type; }
    int DefaultCursorDriver() const { return m_cursorDriver; }
    void SetDefaultCursorDriver(int driver);

    Q_INVOKABLE void Close();
    // options: for Jet the exclusive flag; for ODBC the driver prompt (1, never prompt).
    Q_INVOKABLE QVariant OpenDatabase(QVariant name, QVariant options, QVariant readOnly,
                                      QVariant connect);
    Q_INVOKABLE QVariant OpenConnection(QVariant name, QVariant options, QVariant readOnly,
                                        QVariant connect);
    Q_INVOKABLE QVariant Users();
    Q_INVOKABLE QVariant Groups();
    Q_INVOKABLE QVariant Databases();
    Q_INVOKABLE QVariant Properties();

private:
    void requireOpen() const;
    QVariant openOdbc(const QString& name, const QString& connect);

    EngineVersion m_engine;
    QString m_name, m_user;
    int m_type;
    int m_cursorDriver = -1;
    bool m_closed = false;
    automation::Dispatch m_users, m_groups, m_databases, m_properties;
};

} // namespace tarnwick::daoengine
