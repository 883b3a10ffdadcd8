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
  fs::path dir = fs::temp_directory_path() / ("btree_bench_" + std::to_string(std::random_device{}()));
  Scratch() { fs::create_directories(dir); }
  ~Scratch() { fs::remove_all(dir); }
};

// --- the store engine
StoreEngine* FillStore(const Scratch& s, const std::vector<std::string>& names) {
  // The record store's own key order, as the updater opens its stores.
  StoreEngine* e = StoreOpen((s.dir / "b").string().c_str(), RecKeyConfig(), 0, MODE_CREATE, 0, 0);
  for (const auto& n : names) {
    std::vector<uint8_t> k = Key(n);
    StorePutRecord(e, k.data(), kRecord, sizeof kRecord);
  }
  return e;
}

void BM_Store_Insert(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Scratch s;
    StoreClose(FillStore(s, names));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Store_Lookup(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  StoreEngine* e = FillStore(s, names);
  std::shuffle(names.begin(), names.end(), std::mt19937(1));
  for (auto _ : state) {
    for (const auto& n : names) {
      std::vector<uint8_t> k = Key(n);
      benchmark::DoNotOptimize(StoreGetRecord(e, k.data(), nullptr, 0));
    }
  }
  StoreClose(e);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Store_Iterate(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  StoreEngine* e = FillStore(s, names);
  uint8_t key[600];
  for (auto _ : state) {
    IndexFirst(e->index, nullptr, nullptr);
    KeyOut out;
    out.buffer = key;
    out.capacity = sizeof key;
    while (StoreNextRecord(e, &out) > 0) benchmark::DoNotOptimize(key[0]);
  }
  StoreClose(e);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- SQLite
sqlite3* FillSqlite(const Scratch& s, const std::vector<std::string>& names) {
  sqlite3* db = nullptr;
  sqlite3_open((s.dir / "b.sqlite").string().c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
               "CREATE TABLE r(s INTEGER, n BLOB, v BLOB, PRIMARY KEY(s, n)) WITHOUT ROWID; BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO r VALUES(1, ?, ?)", -1, &st, nullptr);
  for (const auto& n : names) {
    sqlite3_bind_blob(st, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    sqlite3_bind_blob(st, 2, kRecord, sizeof kRecord, SQLITE_STATIC);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  return db;
}

void BM_Sqlite_Insert(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Scratch s;
    sqlite3_close(FillSqlite(s, names));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Sqlite_Lookup(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  sqlite3* db = FillSqlite(s, names);
  std::shuffle(names.begin(), names.end(), std::mt19937(1));
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT v FROM r WHERE s=1 AND n=?", -1, &st, nullptr);
  for (auto _ : state) {
    for (const auto& n : names) {
      sqlite3_bind_blob(st, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
      benchmark::DoNotOptimize(sqlite3_step(st));
      sqlite3_reset(st);
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Sqlite_Iterate(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  sqlite3* db = FillSqlite(s, names);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT s, n FROM r ORDER BY s, n", -1, &st, nullptr);
  for (auto _ : state) {
    while (sqlite3_step(st) == SQLITE_ROW) benchmark::DoNotOptimize(sqlite3_column_blob(st, 1));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- LMDB (keys: section byte + name)
struct Lmdb {
  MDB_env* env = nullptr;
  MDB_dbi dbi = 0;
  explicit Lmdb(const Scratch& s) {
    mdb_env_create(&env);
    mdb_env_set_mapsize(env, size_t{1} << 30);
    mdb_env_open(env, s.dir.string().c_str(), MDB_NOSYNC | MDB_WRITEMAP, 0644);
  }
  ~Lmdb() { mdb_env_close(env); }
};

void FillLmdb(Lmdb& db, const std::vector<std::string>& names) {
  MDB_txn* txn = nullptr;
  mdb_txn_begin(db.env, nullptr, 0, &txn);
  mdb_dbi_open(txn, nullptr, 0, &db.dbi);
  for (const auto& n : names) {
    std::string k = "\x01" + n;
    MDB_val key{k.size(), &k[0]}, val{sizeof kRecord, const_cast<char*>(kRecord)};
    mdb_put(txn, db.dbi, &key, &val, 0);
  }
  mdb_txn_commit(txn);
}

void BM_Lmdb_Insert(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Scratch s;
    Lmdb db(s);
    FillLmdb(db, names);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Lmdb_Lookup(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  Lmdb db(s);
  FillLmdb(db, names);
  std::shuffle(names.begin(), names.end(), std::mt19937(1));
  MDB_txn* txn = nullptr;
  mdb_txn_begin(db.env, nullptr, MDB_RDONLY, &txn);
  for (auto _ : state) {
    for (const auto& n : names) {
      std::string k = "\x01" + n;
      MDB_val key{k.size(), &k[0]}, val;
      benchmark::DoNotOptimize(mdb_get(txn, db.dbi, &key, &val));
    }
  }
  mdb_txn_abort(txn);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Lmdb_Iterate(benchmark::State& state) {
  auto names = Names(static_cast<size_t>(state.range(0)));
  Scratch s;
  Lmdb db(s);
  FillLmdb(db, names);
  MDB_txn* txn = nullptr;
  mdb_txn_begin(db.env, nullptr, MDB_RDONLY, &txn);
  for (auto _ : state) {
    MDB_cursor* cur = nullptr;
    mdb_cursor_open(txn, db.dbi, &cur);
    MDB_val key, val;
    while (mdb_cursor_get(cur, &key, &val, MDB_NEXT) == 0) benchmark::DoNotOptimize(key.mv_data);
    mdb_cursor_close(cur);
  }
  mdb_txn_abort(txn);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_Store_Insert)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite_Insert)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lmdb_Insert)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store_Lookup)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite_Lookup)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lmdb_Lookup)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store_Iterate)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite_Iterate)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lmdb_Iterate)->Arg(20000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
