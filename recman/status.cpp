#include "recman/recman.h"

std::string RecordManagerStatusText(int16_t status) {
  switch (status) {
    case RmSuccess: return "success";
    case RmInvalidOperation: return "invalid operation";
    case RmIoError: return "I/O error (damaged or foreign file)";
    case RmFileNotOpen: return "file not open";
    case RmKeyNotFound: return "key value not found";
    case RmDuplicateKey: return "duplicate key value";
    case RmInvalidKeyNumber: return "invalid key number";
    case RmNoCurrentRecord: return "no current record";
    case RmEndOfFile: return "end of file";
    case RmKeyNotModifiable: return "key value not modifiable";
    case RmInvalidFileName: return "invalid file name";
    case RmFileNotFound: return "file not found";
    case RmDiskFull: return "disk full";
    case RmDataBufferTooShort: return "data buffer too short";
    case RmRecordLengthMismatch: return "record length does not match";
    case RmInvalidPosition: return "invalid record position";
    case RmReadOnly: return "write to a read-only file";
    case RmWrongOwner: return "wrong owner name";
    case RmFileExists: return "file exists";
    case RmRecordLocked: return "record locked";
    case RmFileLocked: return "file locked";
    case RmPermissionDenied: return "permission denied";
    case RmNameTooLong: return "file name too long";
    default: return "unknown status " + std::to_string(status);
  }
}
