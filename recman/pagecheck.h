// Page checksums of the record files: a thin SQLite file layer ("VFS") over
// the system's, through which the engine opens every data file.
//
// A file with checksums keeps 8 reserved bytes at the end of each page: the
// CRC-32C of the page number (4 bytes, little-endian) and of the page's
// other bytes, then the mark "KVC1". The layer writes them whenever a page
// goes to the database file (checkpoints, the making of a file) and checks
// them whenever a page is read from it, mapped or not: a page that does not
// match answers SQLITE_IOERR_DATA, which the engine reports as status 2.
// Pages of the write-ahead log carry the log's own chained checksums, which
// the layer checks for committed frames read back.
//
// Files made before checksums (no reserved bytes, no mark) are read as they
// always were; `recman upgrade` gives them checksums.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pagecheck {

// The name of the layer, registered on first use (never the default one).
const char* VfsName();

// Reserved bytes a file with checksums keeps at the end of each page.
constexpr int kReserveBytes = 8;

// CRC-32C (Castagnoli), with the processor's instruction where it has one.
uint32_t Crc32c(uint32_t crc, const void* data, size_t n);

// Writes a page's checksum into its last kReserveBytes bytes.
void Seal(uint8_t* page, size_t size, uint32_t pageNumber);
// True when a page's last kReserveBytes bytes match its content.
bool Sound(const uint8_t* page, size_t size, uint32_t pageNumber);

// URI query parameter that asks for checksums on a file being made.
constexpr const char* kMakeParameter = "checksums";

// What a walk over a whole database file found (recman check).
struct FileReport {
  bool readable = false;   // an SQLite file whose header could be read
  bool checked = false;    // the file keeps checksums
  uint32_t pageSize = 0;
  uint32_t pages = 0;
  std::vector<uint32_t> damaged;  // page numbers, from 1
};

// Reads every page of the database file at path (not its log) and checks
// each one against its checksum.
FileReport CheckPages(const std::string& path);

}  // namespace pagecheck
