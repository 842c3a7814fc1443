// The record-file layer against a scripted record manager: the requests it
// makes, its retries, its messages and its table, row by row.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "records/records.h"
#include "records/report.h"
#include "tests/records/scripted_recman.h"

namespace {

namespace fs = std::filesystem;

// Answers stat requests with `stat`, and every other request with the next
// status queued for its operation code (0 when none is queued).
struct Responder {
  std::string stat = StatReply(10, {{{2, 0}}});
  std::map<uint16_t, std::deque<int16_t>> queued;
  std::string readData = "RECORDDATA";  // what a successful read returns
  std::string readKey;                  // the key it returns; none when empty
  int16_t statStatus = 0;

  void Install() {
    Reply() = [this](const RecordedRequest& r, uint8_t* data, uint32_t* dataLen, uint8_t* key) -> int16_t {
      if (r.op == 15) {
        WriteReply(stat, data, dataLen);
        return statStatus;
      }
      int16_t st = 0;
      auto it = queued.find(r.op);
      if (it != queued.end() && !it->second.empty()) {
        st = it->second.front();
        it->second.pop_front();
      }
      uint16_t base = static_cast<uint16_t>(r.op % 100);
      bool read = (base >= 5 && base <= 13) || base == 23;
      if (read && st == 0) {
        WriteReply(readData, data, dataLen);
        std::memcpy(key, readKey.data(), readKey.size());
      } else if (read) {
        *dataLen = 0;
      }
      return st;
    };
  }
};

class LayerRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRecordManagerEntry(ScriptedEntry);
    responder.Install();
    int16_t st = 0;
    ResetRecordFiles(st);
    Requests().clear();
    hooks.Install();
    root = fs::temp_directory_path() / ("records-req-" + std::to_string(getpid()));
    fs::create_directories(root / "ddf");
    SetRecordSettings({root.string() + "\\", Language::Catalan});
  }
  void TearDown() override {
    Reply() = nullptr;
    int16_t st = 0;
    ResetRecordFiles(st);
    SetRecordManagerEntry(nullptr);
    RecordHooks() = DefaultRecordFileHooks();
    SetRecordSettings({});
    fs::remove_all(root);
  }

  std::vector<uint16_t> Ops() const {
    std::vector<uint16_t> ops;
    for (const auto& r : Requests()) ops.push_back(r.op);
    return ops;
  }

  void WriteDictionary(const std::string& base, const std::string& bytes) {
    std::ofstream(root / "ddf" / (base + ".xdf"), std::ios::binary) << bytes;
  }

  Responder responder;
  RecordedHooks hooks;
  fs::path root;
  uint8_t area[64] = {};
};

std::string Dictionary(const std::string& creation) {
  std::string out;
  out += static_cast<char>(creation.size() & 0xFF);
  out += static_cast<char>(creation.size() >> 8);
  return out + creation;
}

TEST_F(LayerRequests, FileNameSplitsIntoFullNameAndDictionary) {
  struct Row {
    const char* name;
    const char* fullName;
    const char* dictionaryBase;
  };
  const Row rows[] = {
      {"DADES\\PropietV", "DADES\\PropietV.dat", "PropietV"},
      {"A.B.C", "A.B.C", "A"},
      {"C:\\DATA\\file.txt", "C:\\DATA\\file.txt", "file"},
      {"dir.v2\\File", "dir.v2\\File.dat", "File"},
      {"a/b.c/d", "a/b.c/d.dat", "d"},
      {"X:name", "X:name.dat", "name"},
      {"X:", "X:.dat", ""},
      {"trail.", "trail.", "trail"},
      {"plain", "plain.dat", "plain"},
  };
  int16_t id = 1;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Each dictionary holds its own base name, so the create shows which one was read.
    WriteDictionary(row.dictionaryBase, Dictionary(std::string("creation-") + row.dictionaryBase));
    responder.queued[0] = {12, 0};
    Requests().clear();
    int16_t st = -1;
    OpenRecordFile(id++, row.name, area, st);
    ASSERT_EQ(st, 0);
    ASSERT_GE(Requests().size(), 3u);
    const RecordedRequest& open = Requests()[0];
    EXPECT_EQ(open.op, 0);
    EXPECT_EQ(open.key, std::string(row.fullName) + '\0');
    EXPECT_EQ(open.keyLen, std::string(row.fullName).size());
    EXPECT_EQ(open.data, (std::string{'K', 'V', '2', '6', '\0'})) << "the owner name";
    const RecordedRequest& create = Requests()[1];
    EXPECT_EQ(create.op, 14);
    EXPECT_EQ(create.keyNum, -1);
    EXPECT_EQ(create.key, open.key);
    std::string expected = std::string("creation-") + row.dictionaryBase;
    EXPECT_EQ(create.data.substr(0, expected.size()), expected);
    EXPECT_EQ(create.data.find_first_not_of(' ', expected.size()), std::string::npos);
    EXPECT_EQ(Requests()[2].op, 0) << "the created file is opened";
    EXPECT_TRUE(hooks.events.empty());
  }
}

TEST_F(LayerRequests, OpenFailureMessageInTheSessionLanguage) {
  struct Row {
    const char* language;
    uint16_t failing;  // the request that fails: open (0) or status (15)
    int16_t status;
    const char* text;
    // The name as the caller passes it: a host root (UTF-8) joined the
    // suite's way.
    const char* name = "DADES\\PropietV";
  };
  const Row rows[] = {
      {"SPA", 0, 2, "NO SE PUEDE ACCEDER AL FICHERO DADES/PropietV (2)"},
      {"GLG", 0, 51, "NOM SE PODE ACEDER AO FICHEIRO DADES/PropietV (51)"},
      {"OCI", 0, 46, "NON SE P\xE3T ACCEDIR ATH FICH\xD4R DADES/PropietV (46)"},
      {"CAT", 0, 3, "NO ES POT ACCEDIR AL FITXER DADES/PropietV (3)"},
      {"ENG", 0, 2, "NO ES POT ACCEDIR AL FITXER DADES/PropietV (2)"},
      {"spa", 0, 2, "NO ES POT ACCEDIR AL FITXER DADES/PropietV (2)"},
      {"   ", 0, 2, "NO ES POT ACCEDIR AL FITXER DADES/PropietV (2)"},
      {"CAT", 15, 2, "NO ES POT ACCEDIR AL FITXER DADES/PropietV (2)"},
      {"CAT", 0, 2, "NO ES POT ACCEDIR AL FITXER /srv/Gesti\xa2 \xd5/DADES/PropietV (2)",
       "/srv/Gesti\xc3\xb3 \xe2\x82\xac/DADES\\PropietV"},
      {"SPA", 0, 2, "NO SE PUEDE ACCEDER AL FICHERO /srv/zep/DADES/PropietV (2)", "/srv/zep//\\DADES\\PropietV"},
      {"CAT", 0, 2, "NO ES POT ACCEDIR AL FITXER /srv/?/DADES/PropietV (2)", "/srv/\xff/DADES\\PropietV"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.language);
    SetRecordSettings({root.string() + "\\", LanguageFromCode(row.language)});
    responder.queued[0] = {row.failing == 0 ? row.status : int16_t{0}};
    responder.statStatus = row.failing == 15 ? row.status : int16_t{0};
    Requests().clear();
    hooks.events.clear();
    int16_t st = 0;
    OpenRecordFile(505, row.name, area, st);
    EXPECT_EQ(st, row.status);
    std::vector<std::string> expected{std::string("show:12:") + row.text, "beep", "discard", "key", "close", "files",
                                      "end"};
    EXPECT_EQ(hooks.events, expected);
    // The record manager was reset between closing the files and the end, so the table is free again.
    EXPECT_EQ(Ops().back(), 28);
    EXPECT_EQ(FindFileSlot(505), -RecordFileSlots);
  }
}

TEST_F(LayerRequests, FileLockedByAnotherUserIsRetriedEveryThreeSeconds) {
  for (int busy : {0, 1, 4}) {
    SCOPED_TRACE(busy);
    responder.queued[0] = std::deque<int16_t>(static_cast<size_t>(busy), 85);
    Requests().clear();
    hooks.sleeps.clear();
    int16_t st = -1;
    OpenRecordFile(static_cast<int16_t>(600 + busy), "DADES\\X", area, st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(hooks.sleeps, std::vector<int>(static_cast<size_t>(busy), 3000));
    EXPECT_TRUE(hooks.events.empty()) << "no message while waiting for the file";
    size_t opens = 0;
    for (auto op : Ops()) opens += op == 0;
    EXPECT_EQ(opens, static_cast<size_t>(busy) + 1);
  }
}

TEST_F(LayerRequests, LongNameIsRefusedWithoutReachingTheRecordManager) {
  struct Row {
    size_t length;
    bool refused;
  };
  for (Row row : {Row{251, false}, Row{255, false}, Row{256, true}, Row{400, true}}) {
    SCOPED_TRACE(row.length);
    std::string name = std::string(row.length - 4, 'n');  // ".dat" makes up the rest
    Requests().clear();
    hooks.events.clear();
    int16_t st = -1;
    OpenRecordFile(9, name, area, st);
    if (row.refused) {
      EXPECT_EQ(st, 11) << "invalid file name";
      EXPECT_EQ(Ops(), std::vector<uint16_t>{28}) << "only the reset after the message";
      ASSERT_FALSE(hooks.events.empty());
      EXPECT_EQ(hooks.events[0], "show:12:NO ES POT ACCEDIR AL FITXER " + name + " (11)");
    } else {
      EXPECT_EQ(st, 0);
      EXPECT_EQ(Requests()[0].keyLen, row.length);
      ResetRecordFiles(st);
    }
  }
}

TEST_F(LayerRequests, TableSlotsAndTheirLimits) {
  int16_t st = -1;
  EXPECT_EQ(FindFileSlot(505), -40) << "the last free slot met is offered";
  OpenRecordFile(0, "F", area, st);
  EXPECT_EQ(st, RecordFileNotOpen) << "0 is no file id";
  for (int16_t id = 1; id <= 40; ++id) {
    OpenRecordFile(id, "F" + std::to_string(id), area, st);
    ASSERT_EQ(st, 0) << id;
  }
  struct Row {
    int16_t id;
    int16_t slot;
  };
  for (Row row : {Row{1, 40}, Row{2, 39}, Row{40, 1}, Row{41, 0}, Row{-1, 0}}) {
    EXPECT_EQ(FindFileSlot(row.id), row.slot) << row.id;
  }
  Requests().clear();
  OpenRecordFile(41, "F41", area, st);
  EXPECT_EQ(st, RecordFileTableFull);
  OpenRecordFile(7, "Other", area, st);
  EXPECT_EQ(st, RecordFileAlreadyOpen);
  EXPECT_TRUE(Requests().empty()) << "1002 and 1003 make no request";
  EXPECT_TRUE(hooks.events.empty()) << "1002 and 1003 show no message";
}

TEST_F(LayerRequests, SlotsFoundBeforeAResetAreNotTakenForLaterOnes) {
  struct Lookup {
    int16_t id;
    int16_t slot;
  };
  struct Row {
    const char* name;
    std::vector<int16_t> before;  // opened, then each looked up, then reset
    std::vector<int16_t> after;   // opened after the reset
    std::vector<Lookup> lookups;
  };
  const Row rows[] = {
      {"reopened in reverse order", {5, 21, 37}, {37, 21, 5}, {{37, 40}, {21, 39}, {5, 38}}},
      {"an id no longer open", {5, 21}, {21}, {{21, 40}, {5, -39}}},
      {"ids sixteen apart", {505, 521, 537}, {521, 505}, {{521, 40}, {505, 39}, {537, -38}}},
      {"a negative id", {-3, 13}, {13, -3}, {{13, 40}, {-3, 39}, {-19, -38}}},
  };
  for (const Row& row : rows) {
    int16_t st = -1;
    for (int16_t id : row.before) OpenRecordFile(id, "F", area, st);
    for (int16_t id : row.before) EXPECT_GT(FindFileSlot(id), 0) << row.name << " " << id;
    ResetRecordFiles(st);
    ASSERT_EQ(st, 0);
    for (int16_t id : row.after) OpenRecordFile(id, "F", area, st);
    for (const Lookup& l : row.lookups) EXPECT_EQ(FindFileSlot(l.id), l.slot) << row.name << " " << l.id;
    ResetRecordFiles(st);
  }
}

TEST_F(LayerRequests, ResetClearsTheTableOnlyOnSuccess) {
  int16_t st = -1;
  OpenRecordFile(505, "F", area, st);
  ASSERT_EQ(st, 0);
  responder.queued[28] = {2};
  ResetRecordFiles(st);
  EXPECT_EQ(st, 2);
  EXPECT_EQ(FindFileSlot(505), 40);
  ResetRecordFiles(st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(FindFileSlot(505), -40);
  OpenRecordFile(505, "F", area, st);
  EXPECT_EQ(st, 0) << "the id can be opened again after a reset";
}

TEST_F(LayerRequests, CollationFormOfTheCurrentKey) {
  std::string table(256, '\0');
  for (int c = 0; c < 256; ++c) table[static_cast<size_t>(c)] = static_cast<char>(c);
  table['a'] = 'A';
  table['b'] = 'B';
  table[static_cast<size_t>(0x85)] = 'A';  // à
  responder.stat = StatReply(64, {{{4, 0x04}}, {{2, 0}, {2, 0x04}}, {{3, 0x20}}, {{2, 0x04}, {3, 0x20}}}, table);
  int16_t st = -1;
  OpenRecordFile(1, "F", area, st);
  ASSERT_EQ(st, 0);
  struct Row {
    int16_t key;
    std::string value;
    std::string form;
  };
  const Row rows[] = {
      {0, std::string("\x02\x01", 2), std::string("\x00\x00\x01\x02", 4)},
      {0, std::string("\x02\x01\x00\x00", 4), std::string("\x00\x00\x01\x02", 4)},
      {0, std::string("\x04\x03\x02\x01", 4), std::string("\x01\x02\x03\x04", 4)},
      {0, "", std::string(4, '\0')},
      {1, "ab\x07\x08", "ab\x08\x07"},
      {1, "ab", std::string("ab\x00\x00", 4)},
      {2, "ab\x85", "ABA"},
      {2, "a", "A"},
      {2, "aXz", "AXz"},
      {3, "\x01\x02" "ab" "c", "\x02\x01" "AB" "c"},
      {3, "\x01", std::string("\x00\x01", 2)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("key " + std::to_string(row.key) + " value " + row.value);
    SeekRecord(1, row.key, row.value, 0, st);
    ASSERT_EQ(st, 0);
    EXPECT_EQ(CollationForm(row.value, 1), row.form);
  }
  EXPECT_EQ(CollationForm("ab", 2), "ab") << "file not open: the value unchanged";
  EXPECT_EQ(CurrentKeyCollation(2), "") << "file not open: empty";
}

TEST_F(LayerRequests, LockModeLettersAndTheirStack) {
  struct Step {
    int file;  // 1 or 2
    const char* letters;
  };
  struct Row {
    const char* what;
    std::vector<Step> steps;
    int16_t mode1;
    int16_t mode2;
  };
  const Row rows[] = {
      {"plain", {{1, "D"}}, 0, 0},
      {"lower case", {{1, "a"}, {2, "b"}}, 1, 2},
      {"other letters ignored", {{1, "xyz B q"}}, 2, 0},
      {"save and switch, restore", {{1, "A"}, {1, "+d"}, {1, "-"}}, 1, 0},
      {"plus twice, minus once", {{1, "A+B+D-"}}, 2, 0},
      {"plus twice, minus twice", {{1, "A+B+D--"}}, 1, 0},
      {"minus without entry", {{1, "B-"}}, 2, 0},
      {"other files' entries stay",
       {{1, "A+"}, {2, "B+"}, {1, "D"}, {2, "D"}, {1, "-"}},
       1, 0},
      {"newest entry of this file wins",
       {{1, "A+"}, {2, "B+"}, {1, "B+"}, {2, "D"}, {1, "D-"}, {2, "-"}},
       2, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    int16_t st = 0;
    ResetRecordFiles(st);
    OpenRecordFile(1, "F1", area, st);
    OpenRecordFile(2, "F2", area, st);
    for (const Step& s : row.steps) {
      st = 77;
      SetLockMode(static_cast<int16_t>(s.file), s.letters, st);
      EXPECT_EQ(st, 77) << "the status is left as the caller set it";
    }
    int16_t modes[2] = {-1, -1};
    for (int f = 1; f <= 2; ++f) {
      // A record locked once: mode 0 reads unbiased and gets 84; mode 2 reads
      // biased and gets 84; mode 1 reads biased and waits it out.
      responder.queued[5] = {84};
      responder.queued[205] = {84};
      Requests().clear();
      SeekRecord(static_cast<int16_t>(f), 0, "k", 0, st);
      std::vector<uint16_t> reads;
      for (auto op : Ops())
        if (op != 15) reads.push_back(op);
      if (reads == std::vector<uint16_t>{5} && st == 84) modes[f - 1] = 0;
      if (reads == std::vector<uint16_t>{205, 205} && st == 0) modes[f - 1] = 1;
      if (reads == std::vector<uint16_t>{205} && st == 84) modes[f - 1] = 2;
    }
    EXPECT_EQ(modes[0], row.mode1);
    EXPECT_EQ(modes[1], row.mode2);
  }
  int16_t st = 0;
  SetLockMode(3, "A", st);
  EXPECT_EQ(st, RecordFileNotOpen);
}

TEST_F(LayerRequests, LockedRecordIsWaitedOutWithOneMessage) {
  struct Row {
    const char* language;
    std::deque<int16_t> replies;  // statuses of the biased reads before success
    double fraction;
    int16_t status;
    size_t attempts;
    int sleep;
    const char* text;
  };
  const Row rows[] = {
      {"CAT", {84}, 0.5, 0, 2, 5001, "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
      {"SPA", {84, 85, 84}, 0.0, 0, 4, 1, "FICHERO BLOQUEADO. ESPERE UN MOMENTO."},
      {"GLG", {85}, 0.99999, 0, 2, 10001, "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO."},
      {"OCI", {84, 84}, 0.25, 0, 3, 2501, "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT."},
      {"CAT", {84, 4}, 0.5, 4, 2, 5001, "FITXER BLOQUEJAT. ESPEREU UN MOMENT."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.language);
    int16_t st = 0;
    ResetRecordFiles(st);
    OpenRecordFile(1, "F", area, st);
    SetLockMode(1, "A", st);
    SetRecordSettings({root.string() + "\\", LanguageFromCode(row.language)});
    hooks.events.clear();
    hooks.sleeps.clear();
    hooks.fraction = row.fraction;
    responder.queued[209] = row.replies;
    Requests().clear();
    SeekRecord(1, 0, "k", 1, st);
    EXPECT_EQ(st, row.status);
    size_t reads = 0;
    for (auto op : Ops()) reads += op == 209;
    EXPECT_EQ(reads, row.attempts);
    EXPECT_EQ(hooks.sleeps, std::vector<int>(row.attempts - 1, row.sleep));
    EXPECT_EQ(hooks.events, (std::vector<std::string>{std::string("show:24:") + row.text, "close"}));
  }
}

TEST_F(LayerRequests, SeekKeyBufferAndReadRequest) {
  responder.stat = StatReply(10, {{{3, 0}}});
  struct Row {
    const char* letters;
    int16_t direction;
    uint16_t op;
    char fill;
  };
  const Row rows[] = {
      {"D", 0, 5, ' '},   {"D", 1, 9, '\0'},  {"D", 7, 9, '\0'},     {"D", -1, 11, '\xFF'},
      {"B", 0, 205, ' '}, {"B", 1, 209, ' '}, {"B", -3, 211, ' '},
  };
  int16_t st = 0;
  OpenRecordFile(1, "F", area, st);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.letters) + " " + std::to_string(row.direction));
    SetLockMode(1, row.letters, st);
    std::memset(area, 'r', sizeof area);
    Requests().clear();
    SeekRecord(1, 0, "ab", row.direction, st);
    ASSERT_EQ(st, 0);
    const RecordedRequest& read = Requests().back();
    EXPECT_EQ(read.op, row.op);
    EXPECT_EQ(read.keyLen, 3) << "the key value is exactly as long as the key";
    EXPECT_EQ(read.key, std::string("ab\0", 3) + row.fill);
    EXPECT_EQ(read.dataLenIn, 10u);
    EXPECT_EQ(read.data, std::string(10, 'r')) << "the caller's record goes out";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(area), 12), "RECORDDATArr") << "record length bytes come back";
  }
}

TEST_F(LayerRequests, MoveStepsOfferTheWholeKeyBuffer) {
  responder.stat = StatReply(10, {{{2, 0}}});
  // Every successful read returns the key "a" + NUL: the steps before the
  // last take the key value up to its NUL, "a" (nothing after failed steps),
  // and the last step offers that followed by a blank, whatever the record
  // manager wrote after it before.
  responder.readKey = std::string("a\0", 2);
  int16_t st = 0;
  OpenRecordFile(1, "F", area, st);
  struct Row {
    int16_t count;
    std::deque<int16_t> replies;  // statuses of the steps, 0 after them
    std::vector<uint16_t> ops;
    int16_t status;
    bool copied;
    const char* lastKey;  // what the last step offers when it copies
  };
  const Row rows[] = {
      {3, {}, {6, 6, 6}, 0, true, "a "},     {-2, {}, {7, 7}, 0, true, "a "},     {1, {}, {6}, 0, true, "a "},
      {0, {}, {}, 0, false, ""},             {3, {0, 9}, {6, 6}, 9, false, ""},   {3, {22, 22}, {6, 6, 6}, 0, true, " "},
      {-3, {0, 0, 9}, {7, 7, 7}, 9, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    responder.queued[6] = responder.queued[7] = row.replies;
    std::memset(area, 'r', sizeof area);
    Requests().clear();
    MoveRecord(1, row.count, st);
    EXPECT_EQ(st, row.status);
    ASSERT_EQ(Ops(), row.ops);
    for (size_t i = 0; i + 1 < row.ops.size(); ++i) {
      EXPECT_EQ(Requests()[i].keyLen, 255) << "uncopied step " << i;
      EXPECT_EQ(Requests()[i].dataLenIn, 1536u);
    }
    EXPECT_EQ(area[0], row.copied ? 'R' : 'r');
    if (row.copied) {
      EXPECT_EQ(Requests().back().key, row.lastKey) << "the last step's key";
    }
  }
}

// The whole data buffer of the last read or position request, as the
// record manager could see it, past the data length too.
std::string WholeDataBuffer;

int16_t CapturingEntry(uint16_t op, void* posBlock, void* data, uint32_t* dataLen, void* key, uint8_t keyLen,
                       int8_t keyNum) {
  const uint16_t base = static_cast<uint16_t>(op % 100);
  if ((base >= 5 && base <= 13) || base == 22 || base == 23) {
    WholeDataBuffer.assign(static_cast<const char*>(data), RecordDataBufferSize);
  }
  return ScriptedEntry(op, posBlock, data, dataLen, key, keyLen, keyNum);
}

TEST_F(LayerRequests, DataBufferIsBlankPastWhatARequestFillsWhateverCameBefore) {
  uint8_t longArea[64] = {};
  responder.stat = StatReply(10, {{{2, 0}}});
  int16_t st = 0;
  OpenRecordFile(1, "F", area, st);
  ASSERT_EQ(st, 0);
  responder.stat = StatReply(40, {{{2, 0}}});
  OpenRecordFile(2, "G", longArea, st);
  ASSERT_EQ(st, 0);
  SetRecordManagerEntry(CapturingEntry);
  const std::string blanks(RecordDataBufferSize, ' ');
  const std::string record = std::string(10, 'r') + blanks.substr(10);
  struct Row {
    const char* name;
    std::string before;  // what the reads before the one looked at return
    void (*earlier)();
    void (*request)();
    std::string expected;
  };
  const Row rows[] = {
      {"a reply filling the buffer, then a seek", std::string(1536, 'X'),
       [] { int16_t s = 0; SeekRecord(1, 0, "a", 1, s); }, [] { int16_t s = 0; SeekRecord(1, 0, "a", 1, s); },
       record},
      {"a longer record of another file, then a seek", std::string(40, 'Y'),
       [] { int16_t s = 0; SeekRecord(2, 0, "a", 1, s); }, [] { int16_t s = 0; SeekRecord(1, 0, "a", 0, s); },
       record},
      {"a direct read filling the buffer, then a move", std::string(1536, 'D'), [] { RecordPosition(1, 7); },
       [] { int16_t s = 0; MoveRecord(1, 1, s); }, record},
      {"moves of three, then a seek", std::string(1536, 'M'), [] { int16_t s = 0; MoveRecord(1, 3, s); },
       [] { int16_t s = 0; SeekRecord(1, 0, "a", -1, s); }, record},
      {"a reply filling the buffer, then get position", std::string(1536, 'X'),
       [] { int16_t s = 0; SeekRecord(2, 0, "a", 1, s); }, [] { RecordPosition(1, 0); },
       std::string(4, '\0') + blanks.substr(4)},
      {"a reply filling the buffer, then a direct read", std::string(1536, 'X'),
       [] { int16_t s = 0; SeekRecord(1, 0, "a", 1, s); }, [] { RecordPosition(2, 0x04030201); },
       std::string("\x01\x02\x03\x04") + blanks.substr(4)},
  };
  for (const Row& row : rows) {
    responder.readData = row.before;
    row.earlier();
    std::memset(area, 'r', sizeof area);
    responder.readData = "RECORDDATA";
    WholeDataBuffer.clear();
    row.request();
    EXPECT_EQ(WholeDataBuffer, row.expected) << row.name;
  }
}

}  // namespace
