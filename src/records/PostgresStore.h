// Internals of the PostgreSQL store that the queue needs.
#pragma once

#include "records/RecordStore.h"

namespace varnel {

int PostgresSchemaVersions();
// A store that connects (and migrates) only when first used.
std::unique_ptr<RecordStore> NewPostgresStoreUnconnected(const std::string& connection,
                                                         const ServerTimeouts& timeouts);
// Connects and applies the missing migrations of a store from NewPostgresStoreUnconnected.
Error MigratePostgresStore(RecordStore& store);
// Ends every wait of that store at once, for good (it is about to go).
void InterruptPostgresStore(RecordStore& store);
// A store for reads that must not hold anyone up: connecting and every
// statement take at most `bound` (a connect_timeout in the connection
// string can only shorten it).
std::unique_ptr<RecordStore> NewBoundedPostgresReader(const std::string& connection, std::chrono::milliseconds bound);
// Whether the last call of that store ended because the server did not
// answer in time (not because it refused).
bool PostgresStoreTimedOut(RecordStore& store);
// Asks the server a trivial question: does it answer?
Error PingPostgresStore(RecordStore& store);

}  // namespace varnel
