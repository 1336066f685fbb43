#include "jobs/daocompact.h"

#include "dao/ovdaodatabase.h"

namespace tarnwick::jobs {

void DaoCompactEngine::SetDatabase(const QString& path) {
    m_db.SetDatabase(path);
}

void DaoCompactEngine::SetExclusive(bool exclusive) {
    m_db.SetExclusive(exclusive);
}

void DaoCompactEngine::RepairDatabaseFile(const QString& path, const QString& password) {
    m_db.RepairDatabaseFile(path, password);
}

void DaoCompactEngine::CompactDatabaseFile(const QString& path, const QString& password) {
    m_db.CompactDatabaseFile(path, password);
}

void DaoCompactEngine::CompactDatabaseFileWithOptions(const QString& path, const QString& locale,
                                                      bool encrypt, bool decrypt, int version,
                                                      const QString& password) {
    m_db.CompactDatabaseFileWithOptions(path, locale, encrypt, decrypt, version, password);
}

void DaoCompactEngine::SetMemoryBudget(int mib) {
    tarnwick::automation::Put(m_db.EngineObject(), QStringLiteral("CompactMemoryMiB"), mib);
}

} // namespace tarnwick::jobs
