// The store engine's B-tree beside SQLite and LMDB: inserting keys of the
// record-store shape (section + name) with a small record, looking them up,
// and iterating them in key order. Each peer gets its fastest ordinary
// settings for a bulk job (one transaction, no syncing).
#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ourlib/src/Mf32int.h"
#include "ourlib/src/StoreEngine.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(size_t n) {
  std::mt19937 rng(7);
  std::vector<std::string> names;
  for (size_t i = 0; i < n; ++i) {
    std::string s = "UNIT_" + std::to_string(rng() % 1000000) + "_" + std::to_string(i);
    names.push_back(s);
  }
  return names;
}

std::vector<uint8_t> Key(const std::string& name) {
  std::vector<uint8_t> k(kRecKeyHeader + name.size());
  RecKeyMake(k.data(), 1, name.data(), name.size());
  return k;
}

const char kRecord[16] = "record-bytes-16";

struct Scratch {
  fs::path dir =
      fs::temp_directory_path() / ("btree_bench_" + std::to_string(std::random_device{}()));
  Scratch() { fs::create_directories(dir); }
  ~Scratch() { fs::remove_all(dir); }
};

// Each peer holds one database filled with the names: made (and filled) by
// its constructor, closed by its destructor. Prepare readies the lookups and
// the scan outside the timed loop; Lookup finds one name, Iterate walks all
// keys in key order.

// --- the store engine
class StorePeer {
 public:
  StorePeer(const Scratch& s, const std::vector<std::string>& names) {
    // The record store's own key order, as the updater opens its stores.
    e_ = StoreOpen((s.dir / "b").string().c_str(), RecKeyConfig(), 0, MODE_CREATE, 0, 0);
    for (const auto& n : names) {
      std::vector<uint8_t> k = Key(n);
      StorePutRecord(e_, k.data(), kRecord, sizeof kRecord);
    }
  }
  ~StorePeer() { StoreClose(e_); }
  void Prepare() {}
  void Lookup(const std::string& n) {
    std::vector<uint8_t> k = Key(n);
    benchmark::DoNotOptimize(StoreGetRecord(e_, k.data(), nullptr, 0));
  }
  void Iterate() {
    IndexFirst(e_->index, nullptr, nullptr);
    KeyOut out;
    out.buffer = key_;
    out.capacity = sizeof key_;
    while (StoreNextRecord(e_, &out) > 0) benchmark::DoNotOptimize(key_[0]);
  }

 private:
  StoreEngine* e_ = nullptr;
  uint8_t key_[600];
};

// --- SQLite
class SqlitePeer {
 public:
  SqlitePeer(const Scratch& s, const std::vector<std::string>& names) {
    sqlite3_open((s.dir / "b.sqlite").string().c_str(), &db_);
    sqlite3_exec(
        db_,
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE r(s INTEGER, n BLOB, v BLOB, PRIMARY KEY(s, n)) WITHOUT ROWID; BEGIN;",
        nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO r VALUES(1, ?, ?)", -1, &st, nullptr);
    for (const auto& n : names) {
      sqlite3_bind_blob(st, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
      sqlite3_bind_blob(st, 2, kRecord, sizeof kRecord, SQLITE_STATIC);
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
    sqlite3_prepare_v2(db_, "SELECT v FROM r WHERE s=1 AND n=?", -1, &lookup_, nullptr);
    sqlite3_prepare_v2(db_, "SELECT s, n FROM r ORDER BY s, n", -1, &scan_, nullptr);
  }
  void Lookup(const std::string& n) {
    sqlite3_bind_blob(lookup_, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    benchmark::DoNotOptimize(sqlite3_step(lookup_));
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
  LmdbPeer(const Scratch& s, const std::vector<std::string>& names) {
    mdb_env_create(&env_);
    mdb_env_set_mapsize(env_, size_t{1} << 30);
    mdb_env_open(env_, s.dir.string().c_str(), MDB_NOSYNC | MDB_WRITEMAP, 0644);
    MDB_txn* txn = nullptr;
    mdb_txn_begin(env_, nullptr, 0, &txn);
    mdb_dbi_open(txn, nullptr, 0, &dbi_);
    for (const auto& n : names) {
      std::string k = "\x01" + n;
      MDB_val key{k.size(), &k[0]}, val{sizeof kRecord, const_cast<char*>(kRecord)};
      mdb_put(txn, dbi_, &key, &val, 0);
    }
    mdb_txn_commit(txn);
  }
  ~LmdbPeer() {
    if (read_ != nullptr) mdb_txn_abort(read_);
    mdb_env_close(env_);
  }
  void Prepare() { mdb_txn_begin(env_, nullptr, MDB_RDONLY, &read_); }
  void Lookup(const std::string& n) {
    std::string k = "\x01" + n;
    MDB_val key{k.size(), &k[0]}, val;
    benchmark::DoNotOptimize(mdb_get(read_, dbi_, &key, &val));
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
  auto names = Names(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Scratch s;
    Peer db(s, names);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Runs step on a database filled with the names, which come shuffled.
template <class Peer, class Step>
void OnFilled(benchmark::State& state, Step step) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  Peer db(s, names);
  std::shuffle(names.begin(), names.end(), std::mt19937(1));
  db.Prepare();
  for (auto _ : state) step(db, names);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Peer>
void BM_Lookup(benchmark::State& state) {
  OnFilled<Peer>(state, [](Peer& db, const std::vector<std::string>& names) {
    for (const auto& n : names) db.Lookup(n);
  });
}

template <class Peer>
void BM_Iterate(benchmark::State& state) {
  OnFilled<Peer>(state, [](Peer& db, const std::vector<std::string>&) { db.Iterate(); });
}

}  // namespace

// Every measure for every peer, under the names BM_<peer>_<measure>.
#define UPD_PEER(measure, Peer, name)    \
  BENCHMARK_TEMPLATE(BM_##measure, Peer) \
      ->Name("BM_" name "_" #measure)    \
      ->Arg(20000)                       \
      ->Unit(benchmark::kMillisecond)
#define UPD_PEERS(measure)                 \
  UPD_PEER(measure, StorePeer, "Store");   \
  UPD_PEER(measure, SqlitePeer, "Sqlite"); \
  UPD_PEER(measure, LmdbPeer, "Lmdb")
UPD_PEERS(Insert);
UPD_PEERS(Lookup);
UPD_PEERS(Iterate);

BENCHMARK_MAIN();
