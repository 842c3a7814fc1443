// Test seams of the record manager: one makes a storage call fail on
// purpose, so that a test can prove a failure midway is reported and loses
// nothing; the other moves the engine's clock, so that a test of what
// happens once a handle has stayed idle need not wait for it.
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

// Moves the engine's clock (the one that tells idle handles) on by millis
// for the rest of the process.
void AdvanceRecordManagerClock(int64_t millis);
