#include "jobs/defaultengine.h"

#include "dao/ovdaodatabase.h"
#include "daoengine/engine.h"
#include "jobs/daocompact.h"

#include <mutex>

namespace tarnwick::jobs {

namespace {

// Owns the component it drives.
class OwnedDaoEngine : public DaoCompactEngine {
public:
    explicit OwnedDaoEngine(std::unique_ptr<TOvDaoDatabase> db)
        : DaoCompactEngine(*db), m_owned(std::move(db)) {}

private:
    std::unique_ptr<TOvDaoDatabase> m_owned;
};

} // namespace

std::unique_ptr<CompactEngine> makeDefaultEngine(const QString& version) {
    static std::once_flag once;
    std::call_once(once, [] { daoengine::RegisterEngineClasses(); });
    auto db = std::make_unique<TOvDaoDatabase>();
    db->BeginLoading();
    db->SetDatabaseType(QStringLiteral("Access"));
    db->SetLoginPrompt(false);
    db->SetUserName(QStringLiteral("Admin"));
    db->SetSystemDatabase(QStringLiteral("system.mdb"));
    db->SetEngineType(2);
    db->SetPrivateEngine(true);
    db->SetVersion(version == QLatin1String("3.5") ? version : QStringLiteral("3.6"));
    db->SetWorkspace(QStringLiteral("DaoWorkspace"));
    db->SetQueryTimeout(60);
    db->EndLoading();
    db->SetExclusive(true);
    return std::make_unique<OwnedDaoEngine>(std::move(db));
}

} // namespace tarnwick::jobs
