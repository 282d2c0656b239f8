// The SQLite record store, with the extra operations the local queue needs.
#pragma once

#include "records/RecordStore.h"

namespace varnel {

class SqliteRecordStore : public RecordStore {
public:
    // Deletes the record with that uid (a queued record that reached the server).
    virtual Error Remove(const std::string& uid) = 0;
    virtual std::size_t Count() = 0;
};

Result<std::unique_ptr<SqliteRecordStore>> OpenSqliteRecordStore(const std::filesystem::path& file);
int SqliteSchemaVersions();

}  // namespace varnel
