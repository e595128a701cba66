// The driver's diagnostics: leveled messages, hex dumps of device traffic and CSV dumps of tables.
// What is written is set by a built-in table of debug settings; as shipped every value is 0 and
// nothing is written.
#pragma once

#include <cstdint>

// The message levels in use. A message is written when its level is at most the configured LEVEL,
// a table dump when its level is at most FILE_LEVEL.
inline constexpr int kLogErrors = 1;
inline constexpr int kLogTables = 10;     // dumps of correction and lookup tables
inline constexpr int kLogDetails = 20;    // steps and values of the algorithms
inline constexpr int kLogParameters = 30; // driver operations: name, arguments, FUNC_STATUS
inline constexpr int kLogCommands = 40;   // device commands and the hex dumps of their traffic

// Output modes for DBG_INIT: 1 writes to standard output; anything else appends to the log file
// in the folder given (standard output when there is no folder).
enum {
    DBG_MODE_STDOUT = 1,
    DBG_MODE_FILE = 2
};

// Reads the settings table and chooses the output. `module_folder` ends in '/'; the log file and
// the dumps are named by appending to it. Null means no folder: messages go to standard output
// and table dumps are skipped.
void DBG_INIT(const char* module_folder, int mode);

// A message of at most 511 characters, written as is when `level` <= LEVEL.
void DBG_LOG(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Up to 64 bytes of `data`, 16 per line, when `level` <= LEVEL.
void DBG_HEX(int level, const void* data, unsigned length);

// CSV dumps (when `level` <= FILE_LEVEL) of `rows` x `columns` values laid row after row. Three
// columns are printed in full; any other count prints column 0 of each row.
void DBG_CORRECTION_TABLE_CSV_FIE(int level, const char* name, unsigned rows, unsigned columns, const double* table);
// 16.16 fixed-point values, printed divided by 65536.
void DBG_SCAN_CORRECTION_TABLE_CSV_FIE(int level, const char* name, unsigned rows, unsigned columns,
                                       const uint32_t* table);
void DBG_LOOKUP_TABLE_CSV_FILE(int level, const char* name, unsigned rows, unsigned columns, const uint16_t* table);

// Driver-internal (never exported): the settings table is the only source of settings. These set
// one row by its key (false for an unknown key) and restore the shipped zeros. DBG_INIT must run
// again for a change to take effect.
bool DBG_SET_SETTING(const char* key, uint32_t value);
void DBG_RESET_SETTINGS();

// The values DBG_INIT derived, for the driver's own checks.
int DBG_LEVEL();
int DBG_FILE_LEVEL();
uint32_t DBG_IMAGE_MASK();
