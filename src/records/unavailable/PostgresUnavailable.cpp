// Stands in for the PostgreSQL record store in a build without libpq (the
// Windows build): connecting fails with the reason, and the records stay in
// the SQLite file of this PC.
#include "records/PostgresStore.h"
#include "records/RecordStore.h"

namespace varnel {

namespace {

Error unavailable() {
    return Error::make(ErrorCode::Database,
                       "records on a PostgreSQL server are not available in this build (no PostgreSQL client "
                       "library); the records are kept in the SQLite file of this computer");
}

class UnavailableStore : public RecordStore {
public:
    Error append(CalibrationRecord&) override { return unavailable(); }
    Result<std::vector<CalibrationRecord>> list(const RecordFilter&) override { return unavailable(); }
    Result<CalibrationRecord> get(std::int64_t) override { return unavailable(); }
    int schemaVersion() override { return 0; }
    std::string describe() const override { return "PostgreSQL (not in this build)"; }
};

}  // namespace

int PostgresSchemaVersions() { return 0; }

Result<std::unique_ptr<RecordStore>> OpenPostgresStore(const std::string&, const ServerTimeouts&) {
    return unavailable();
}
std::unique_ptr<RecordStore> NewPostgresStoreUnconnected(const std::string&, const ServerTimeouts&) {
    return std::make_unique<UnavailableStore>();
}
Error MigratePostgresStore(RecordStore&) { return unavailable(); }
void InterruptPostgresStore(RecordStore&) {}
std::unique_ptr<RecordStore> NewBoundedPostgresReader(const std::string&, std::chrono::milliseconds) {
    return std::make_unique<UnavailableStore>();
}
bool PostgresStoreTimedOut(RecordStore&) { return false; }
Error PingPostgresStore(RecordStore&) { return unavailable(); }

}  // namespace varnel
