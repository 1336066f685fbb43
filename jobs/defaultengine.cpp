#include "jobs/defaultengine.h"

#include <stdexcept>

namespace tarnwick::jobs {

namespace {

// Until the database component is built in: every database fails with its line.
class NoEngine : public CompactEngine {
public:
    void SetDatabase(const QString&) override {}
    void SetExclusive(bool) override {}
    void RepairDatabaseFile(const QString&, const QString&) override { fail(); }
    void CompactDatabaseFile(const QString&, const QString&) override { fail(); }
    void CompactDatabaseFileWithOptions(const QString&, const QString&, bool, bool, int,
                                        const QString&) override {
        fail();
    }

private:
    [[noreturn]] static void fail() { throw std::runtime_error("no database engine is built in"); }
};

} // namespace

std::unique_ptr<CompactEngine> makeDefaultEngine() {
    return std::make_unique<NoEngine>();
}

} // namespace tarnwick::jobs
