// The SQLite record store, with the extra operations the local queue needs.
#pragma once

#include "records/RecordStore.h"

namespace varnel {

class SqliteRecordStore : public RecordStore {
public:
    // Deletes the record with that uid (a queued record that reached the server).
    virtual Error remove(const std::string& uid) = 0;
    // Records not set aside, oldest first (what a queue still has to send).
    virtual Result<std::vector<CalibrationRecord>> waiting() = 0;
    // Keeps the record but no longer sends it: the server refused it for its
    // content. `reason` is the server's word.
    virtual Error setAside(const std::string& uid, const std::string& reason) = 0;
    // Records not set aside, and records set aside.
    virtual std::size_t count() = 0;
    virtual std::size_t countSetAside() = 0;
    // How many of the records with these uids still wait (not set aside).
    virtual std::size_t countWaitingOf(const std::vector<std::string>& uids) = 0;
};

Result<std::unique_ptr<SqliteRecordStore>> OpenSqliteRecordStore(const std::filesystem::path& file);
int SqliteSchemaVersions();

}  // namespace varnel
