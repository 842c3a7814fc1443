// Test seam of the record manager: makes one storage call fail on purpose,
// so that a test can prove a failure midway is reported and loses nothing.
// A storage call is each SQLite prepare, step or statement run that the
// engine makes on behalf of a request (rollbacks excepted). Process-wide.
#pragma once

#include <cstdint>

// After `count` more storage calls succeed, the next one fails with an I/O
// error; later calls succeed again. A negative count switches the seam off.
void FailStorageCallAfter(int64_t count);

// Storage calls made since the process started; a test takes the difference
// around a request to learn how many calls it makes.
int64_t StorageCallCount();
