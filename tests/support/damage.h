// Damage to a data file made behind the back of the code under test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/register.h"

// Reads the record of the data file at `path` whose key 0 holds `key` (its
// bytes as stored), lets `change` alter its bytes, and writes it back through
// the record manager, as a program that does not keep the file's own rules
// would. Gives 0, or the status of the first record manager call that failed.
[[nodiscard]] int16_t ChangeStoredRecord(const std::string& path, const std::string& key,
                                         const std::function<void(std::string& record)>& change);

// Deletes that record through the record manager: 0, or the first failing status.
[[nodiscard]] int16_t RemoveStoredRecord(const std::string& path, const std::string& key);

// The stored bytes of a key that is one 4-byte number.
std::string NumberKey(int32_t number);

// The stored bytes of the register's key 0: the series, blank-padded, and
// the number.
std::string SeriesNumberKey(const std::string& series, int32_t number);

// Makes the register file of the module's first layout at path (".dat"
// added) holding entries, numbered, chained and sealed as that version did,
// each entry's fields filled in as stored. Gives 0 or the first failing status.
[[nodiscard]] int16_t WriteEarlierRegister(const std::string& path, std::vector<RegisterEntry>& entries);
