// Stands in for the SQLite record store in a build without SQLite: opening
// the store fails with the reason, everything else of the program works.
#include "records/RecordStore.h"
#include "records/SqliteStore.h"

namespace varnel {

namespace {

Error unavailable() {
    return Error::make(ErrorCode::Database, "this build has no SQLite record store (built without SQLite)");
}

}  // namespace

int SqliteSchemaVersions() { return 0; }

Result<std::unique_ptr<SqliteRecordStore>> OpenSqliteRecordStore(const std::filesystem::path&) { return unavailable(); }
Result<std::unique_ptr<RecordStore>> OpenSqliteStore(const std::filesystem::path&) { return unavailable(); }

}  // namespace varnel
