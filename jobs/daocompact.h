#pragma once

// The database component as the repair-and-compact job's engine.

#include "jobs/compactjob.h"

class TOvDaoDatabase;

namespace tarnwick::jobs {

class DaoCompactEngine : public CompactEngine {
public:
    explicit DaoCompactEngine(TOvDaoDatabase& database) : m_db(database) {}
    void SetDatabase(const QString& path) override;
    void SetExclusive(bool exclusive) override;
    void RepairDatabaseFile(const QString& path, const QString& password) override;
    void CompactDatabaseFile(const QString& path, const QString& password) override;
    void CompactDatabaseFileWithOptions(const QString& path, const QString& locale, bool encrypt,
                                        bool decrypt, int version,
                                        const QString& password) override;
    void SetMemoryBudget(int mib) override;

private:
    TOvDaoDatabase& m_db;
};

} // namespace tarnwick::jobs
