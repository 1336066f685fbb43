#include "dao/programdesign.h"

#include "dao/ovdaodatabase.h"

namespace tarnwick::dao {

void SetProgramDesign(TOvDaoDatabase& db, const QString& version) {
    // The order a description sets them in: the workspace rebuilds the engine with the values
    // before it.
    db.SetExclusive(true);
    db.SetDatabaseType(QStringLiteral("Access"));
    db.SetReadOnly(false);
    db.SetLoginPrompt(false);
    db.SetUserName(QStringLiteral("Admin"));
    db.SetSystemDatabase(QStringLiteral("system.mdb"));
    db.SetSaveUserName(true);
    db.SetEngineType(2);
    db.SetPrivateEngine(true);
    db.SetVersion(version == QLatin1String("3.5") || version == QLatin1String("12.0")
                      ? version
                      : QStringLiteral("3.6"));
    db.SetWorkspace(QStringLiteral("DaoWorkspace"));
    db.SetDefaultCursorDriver(-1);
    db.SetQueryTimeout(60);
}

} // namespace tarnwick::dao
