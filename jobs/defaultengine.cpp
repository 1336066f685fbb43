#include "jobs/defaultengine.h"

#include "dao/ovdaodatabase.h"
#include "dao/programdesign.h"
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
    dao::SetProgramDesign(*db, version);
    db->EndLoading();
    return std::make_unique<OwnedDaoEngine>(std::move(db));
}

} // namespace tarnwick::jobs
