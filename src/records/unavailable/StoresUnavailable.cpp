// Stands in for the SQLite and PostgreSQL record stores in builds without
// those libraries (the MinGW cross build): opening a store fails with a
// reason, everything else of the program works.
#include "records/PostgresStore.h"
#include "records/RecordStore.h"
#include "records/SqliteStore.h"

namespace varnel {

namespace {

Error unavailable(const std::string& what) {
    return Error::Make(ErrorCode::Database, "this build has no " + what + " record store");
}

class UnavailableStore : public RecordStore {
public:
    Error Append(CalibrationRecord&) override { return unavailable("PostgreSQL"); }
    Result<std::vector<CalibrationRecord>> List(const RecordFilter&) override { return unavailable("PostgreSQL"); }
    Result<CalibrationRecord> Get(std::int64_t) override { return unavailable("PostgreSQL"); }
    int SchemaVersion() override { return 0; }
    std::string Describe() const override { return "PostgreSQL (not in this build)"; }
};

}  // namespace

int SqliteSchemaVersions() { return 0; }
int PostgresSchemaVersions() { return 0; }

Result<std::unique_ptr<SqliteRecordStore>> OpenSqliteRecordStore(const std::filesystem::path&) {
    return unavailable("SQLite");
}
Result<std::unique_ptr<RecordStore>> OpenSqliteStore(const std::filesystem::path&) { return unavailable("SQLite"); }
Result<std::unique_ptr<RecordStore>> OpenPostgresStore(const std::string&, const ServerTimeouts&) {
    return unavailable("PostgreSQL");
}
std::unique_ptr<RecordStore> NewPostgresStoreUnconnected(const std::string&, const ServerTimeouts&) {
    return std::make_unique<UnavailableStore>();
}
Error MigratePostgresStore(RecordStore&) { return unavailable("PostgreSQL"); }
void InterruptPostgresStore(RecordStore&) {}

}  // namespace varnel
