// The record store beside LMDB and SQLite: putting records with cMf32 in
// random order, getting them back in another random order, and iterating all
// keys in key order. The keys are those of a game's stores: a section byte and
// a name of 4 to 20 characters from A-Z, 0-9, '_' and '.', each with a 4-byte
// value. Each peer gets its fastest ordinary settings for a bulk job (one
// write transaction, no syncing; SQLite with its default cache).
#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench/BenchRounds.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"

namespace {

namespace fs = std::filesystem;

struct Keys {
  std::vector<uint8_t> section;
  std::vector<std::string> name;
  std::vector<uint32_t> order;  // a second random order, for the lookups
  size_t size() const { return name.size(); }
  // Section byte and name, as LMDB's and SQLite's keys hold them.
  std::string Flat(size_t i) const { return static_cast<char>(section[i]) + name[i]; }
};

// n distinct keys in random order (the same on every call).
const Keys& TheKeys(size_t n) {
  static Keys keys;
  if (keys.size() == n) return keys;
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
  std::mt19937 rng(7);
  std::unordered_set<std::string> seen;
  keys = Keys();
  while (keys.size() < n) {
    uint8_t section = static_cast<uint8_t>(rng() % 256);
    std::string name(4 + rng() % 17, ' ');
    for (char& c : name) c = kChars[rng() % (sizeof kChars - 1)];
    if (!seen.insert(static_cast<char>(section) + name).second) continue;
    keys.section.push_back(section);
    keys.name.push_back(name);
  }
  keys.order.resize(n);
  for (size_t i = 0; i < n; ++i) keys.order[i] = static_cast<uint32_t>(i);
  std::shuffle(keys.order.begin(), keys.order.end(), std::mt19937(1));
  return keys;
}

size_t KeyCount() { return static_cast<size_t>(bench::Size(20000, 1000000)); }

struct Scratch {
  fs::path dir =
      fs::temp_directory_path() / ("btree_bench_" + std::to_string(std::random_device{}()));
  Scratch() { fs::create_directories(dir); }
  ~Scratch() { fs::remove_all(dir); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

// Each peer fills one database with the keys in its constructor (the insert
// measure) and closes it in its destructor. Prepare readies the lookups and
// the scan; Lookup gets the record of key i, Iterate walks all keys in order.

// --- the record store, as the updater uses it
class StorePeer {
 public:
  StorePeer(const Scratch& s, const Keys& keys) : path_((s.dir / "B.DKX").string()) {
    Guard([&] {
      cMf32* h = cMf32::Open(path_.c_str(), MFO_CREATE, 0, 0);
      for (size_t i = 0; i < keys.size(); ++i) {
        uint32_t value = static_cast<uint32_t>(i);
        h->RecPut(keys.section[i], keys.name[i].c_str(), &value, 4, nullptr, PACK_NONE, nullptr);
      }
      delete h;
    });
  }
  ~StorePeer() {
    Guard([&] { delete read_; });
  }
  void Prepare() {
    Guard([&] { read_ = cMf32::Open(path_.c_str(), MFO_READ, 0, 0); });
  }
  void Lookup(const Keys& keys, size_t i) {
    void* record = read_->RecGet(keys.section[i], keys.name[i].c_str(), nullptr, 1);
    benchmark::DoNotOptimize(record);
    read_->RecMemFree(&record);
  }
  void Iterate() {
    read_->ToBeg(nullptr, nullptr);
    while (const uint8_t* key = read_->RecKeyGetNext(nullptr)) benchmark::DoNotOptimize(key);
  }

 private:
  std::string path_;
  cMf32* read_ = nullptr;
};

// --- SQLite
class SqlitePeer {
 public:
  SqlitePeer(const Scratch& s, const Keys& keys) {
    sqlite3_open((s.dir / "b.sqlite").string().c_str(), &db_);
    sqlite3_exec(
        db_,
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE r(s INTEGER, n BLOB, v BLOB, PRIMARY KEY(s, n)) WITHOUT ROWID; BEGIN;",
        nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO r VALUES(?, ?, ?)", -1, &st, nullptr);
    for (size_t i = 0; i < keys.size(); ++i) {
      uint32_t value = static_cast<uint32_t>(i);
      const std::string& n = keys.name[i];
      sqlite3_bind_int(st, 1, keys.section[i]);
      sqlite3_bind_blob(st, 2, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
      sqlite3_bind_blob(st, 3, &value, 4, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr);
  }
  ~SqlitePeer() {
    sqlite3_finalize(lookup_);
    sqlite3_finalize(scan_);
    sqlite3_close(db_);
  }
  void Prepare() {
    sqlite3_prepare_v2(db_, "SELECT v FROM r WHERE s=? AND n=?", -1, &lookup_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT s, n FROM r ORDER BY s, n", -1, &scan_, nullptr);
  }
  void Lookup(const Keys& keys, size_t i) {
    const std::string& n = keys.name[i];
    sqlite3_bind_int(lookup_, 1, keys.section[i]);
    sqlite3_bind_blob(lookup_, 2, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    benchmark::DoNotOptimize(sqlite3_step(lookup_));
    benchmark::DoNotOptimize(sqlite3_column_blob(lookup_, 0));
    sqlite3_reset(lookup_);
  }
  void Iterate() {
    while (sqlite3_step(scan_) == SQLITE_ROW)
      benchmark::DoNotOptimize(sqlite3_column_blob(scan_, 1));
    sqlite3_reset(scan_);
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* lookup_ = nullptr;
  sqlite3_stmt* scan_ = nullptr;
};

// --- LMDB (keys: section byte + name)
class LmdbPeer {
 public:
  LmdbPeer(const Scratch& s, const Keys& keys) {
    mdb_env_create(&env_);
    mdb_env_set_mapsize(env_, size_t{1} << 30);
    mdb_env_open(env_, s.dir.string().c_str(), MDB_NOSYNC | MDB_WRITEMAP, 0644);
    MDB_txn* txn = nullptr;
    mdb_txn_begin(env_, nullptr, 0, &txn);
    mdb_dbi_open(txn, nullptr, 0, &dbi_);
    for (size_t i = 0; i < keys.size(); ++i) {
      uint32_t value = static_cast<uint32_t>(i);
      std::string k = keys.Flat(i);
      MDB_val key{k.size(), &k[0]}, val{4, &value};
      mdb_put(txn, dbi_, &key, &val, 0);
    }
    mdb_txn_commit(txn);
  }
  ~LmdbPeer() {
    if (read_ != nullptr) mdb_txn_abort(read_);
    mdb_env_close(env_);
  }
  void Prepare() { mdb_txn_begin(env_, nullptr, MDB_RDONLY, &read_); }
  void Lookup(const Keys& keys, size_t i) {
    char k[32];
    k[0] = static_cast<char>(keys.section[i]);
    std::memcpy(k + 1, keys.name[i].data(), keys.name[i].size());
    MDB_val key{keys.name[i].size() + 1, k}, val;
    benchmark::DoNotOptimize(mdb_get(read_, dbi_, &key, &val));
    benchmark::DoNotOptimize(val.mv_data);
  }
  void Iterate() {
    MDB_cursor* cur = nullptr;
    mdb_cursor_open(read_, dbi_, &cur);
    MDB_val key, val;
    while (mdb_cursor_get(cur, &key, &val, MDB_NEXT) == 0) benchmark::DoNotOptimize(key.mv_data);
    mdb_cursor_close(cur);
  }

 private:
  MDB_env* env_ = nullptr;
  MDB_dbi dbi_ = 0;
  MDB_txn* read_ = nullptr;
};

// --- the three measures, the same for every peer
template <class Peer>
void BM_Insert(benchmark::State& state) {
  const Keys& keys = TheKeys(KeyCount());
  for (auto _ : state) {
    Scratch s;
    Peer db(s, keys);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

// A database filled with the keys, made once and kept for every round.
template <class Peer>
Peer& Filled(const Keys& keys) {
  static Scratch s;
  static std::unique_ptr<Peer> db;
  if (!db) {
    db = std::make_unique<Peer>(s, keys);
    db->Prepare();
  }
  return *db;
}

template <class Peer>
void BM_Lookup(benchmark::State& state) {
  const Keys& keys = TheKeys(KeyCount());
  Peer& db = Filled<Peer>(keys);
  for (auto _ : state) {
    for (uint32_t i : keys.order) db.Lookup(keys, i);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

template <class Peer>
void BM_Iterate(benchmark::State& state) {
  const Keys& keys = TheKeys(KeyCount());
  Peer& db = Filled<Peer>(keys);
  for (auto _ : state) db.Iterate();
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

}  // namespace

// Every measure for every peer, under the names BM_<peer>_<measure>.
#define UPD_PEER(measure, Peer, name)    \
  BENCHMARK_TEMPLATE(BM_##measure, Peer) \
      ->Name("BM_" name "_" #measure)    \
      ->Unit(benchmark::kMillisecond)
#define UPD_PEERS(measure)               \
  UPD_PEER(measure, StorePeer, "Store"); \
  UPD_PEER(measure, LmdbPeer, "Lmdb");   \
  UPD_PEER(measure, SqlitePeer, "Sqlite")
UPD_PEERS(Insert);
UPD_PEERS(Lookup);
UPD_PEERS(Iterate);

int main(int argc, char** argv) {
  return bench::Main(
      argc, argv, bench::Clock::kCpu,
      {
          {"record insert (`RecPut`, random order) / LMDB put, one transaction", "BM_Store_Insert",
           "BM_Lmdb_Insert", false, 0.5},
          {"record lookup (`RecGet`) / LMDB get", "BM_Store_Lookup", "BM_Lmdb_Lookup", false, 0.5},
          {"ordered iteration (`ToBeg` + `RecKeyGetNext`) / LMDB cursor scan", "BM_Store_Iterate",
           "BM_Lmdb_Iterate", false, 0.5},
          {"record insert / SQLite `WITHOUT ROWID`", "BM_Store_Insert", "BM_Sqlite_Insert", false,
           1.0},
          {"record lookup / SQLite", "BM_Store_Lookup", "BM_Sqlite_Lookup", false, 1.0},
          {"ordered iteration / SQLite", "BM_Store_Iterate", "BM_Sqlite_Iterate", false, 1.0},
      });
}
