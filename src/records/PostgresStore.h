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

}  // namespace varnel
