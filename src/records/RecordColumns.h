// The columns of a calibration record, described once: the stores derive
// their SQL from this table (CREATE and ALTER of the migrations, the column
// lists of INSERT and SELECT, the binding of values and the decoding of
// rows), and the CSV export its header and fields.
//
// A column is never removed or renamed. A new one is appended here with the
// schema version that adds it; each store's migration of that version is
// the ALTER TABLE that AddedColumnsSql() gives for it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "records/RecordStore.h"

namespace varnel {

enum class ColumnKind {
    Id,           // the store's key (not inserted)
    Text,         // NOT NULL, '' by default
    Int,          // NOT NULL
    OptionalInt,  // NULL for -1
    OptionalReal, // NULL for no value
    Blob,         // NULL for no bytes
};

struct RecordColumn {
    const char* name;
    ColumnKind kind;
    int since;  // the schema version that added the column
    std::string CalibrationRecord::*text = nullptr;
    int CalibrationRecord::*number = nullptr;  // Int, OptionalInt
    std::optional<double> CalibrationRecord::*real = nullptr;
    std::vector<std::uint8_t> CalibrationRecord::*bytes = nullptr;
};

// Every column, in the order of the CSV export (the id first).
std::span<const RecordColumn> RecordColumns();

enum class SqlDialect { Sqlite, Postgres };

// "uid, session, ..." of the columns there are at `version` (the id only
// when `withId`).
std::string ColumnListSql(int version, bool withId);
// The CREATE TABLE of the columns of schema version 1.
std::string CreateRecordTableSql(SqlDialect dialect);
// The ALTER TABLE statements (';'-separated) adding the columns of `version`.
std::string AddedColumnsSql(SqlDialect dialect, int version);

// The newest version that added a column.
int NewestColumnVersion();

}  // namespace varnel
