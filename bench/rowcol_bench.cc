// Row insertion and removal on a large sheet, beside the floor of renumbering the same cell grid
// alone by moving values; and value writes that grow a sheet one row at a time.
//
// The sheet: 1,000,000 cells (10,000 rows × 100 columns) with merges, a filter, validations and
// conditional formats. Each iteration inserts a row at the top and removes it again, so the sheet
// is the same at every iteration.
#include <benchmark/benchmark.h>
#include <json/value.h>

#include <string>
#include <utility>
#include <vector>

#include "sheet_gen.h"
#include "snapshot/sheet.h"

namespace {

// A1 text "<col><row>" built without operator+ on string literals (GCC 12 -O3 reports a false
// -Wrestrict there).
std::string A1(const char* col, int row) {
  std::string text(col);
  text += std::to_string(row);
  return text;
}

std::string Id(const char* prefix, int n) { return A1(prefix, n); }

Json::Value LargeSheet() {
  Json::Value content = zoltsh::bench::GenerateSheet(1000000);
  Json::Value& merges = content["mergeCells"] = Json::Value(Json::arrayValue);
  for (int r = 0; r < 10000; r += 100) {
    Json::Value m(Json::arrayValue);
    for (int n : {r, 0, r + 1, 3}) m.append(n);
    merges.append(m);
  }
  Json::Value& filter = content["filter"];
  filter["id"] = "f";
  filter["enabled"] = true;
  for (int n : {0, 0, 9999, 9}) filter["range"].append(n);
  for (int i = 0; i < 10; ++i) filter["filters"].append("cond");
  for (int i = 0; i < 5; ++i) {
    const std::string id = Id("v", i);
    Json::Value& v = content["validation"][id];
    v["validId"] = id;
    v["type"] = "decimal";
    v["ranges"].append(A1("B", 2 + i * 1000) + ":" + A1("C", 900 + i * 1000));
    v["f1"] = A1("B", 2 + i * 1000) + ">0";
  }
  for (int i = 0; i < 5; ++i) {
    Json::Value cf;
    cf["cfId"] = Id("c", i);
    cf["ranges"].append(A1("D", 1 + i * 1000) + ":" + A1("F", 500 + i * 1000));
    cf["f1"] = A1("D", 1 + i * 1000) + ">$A$1";
    content["cfs"].append(cf);
  }
  std::vector<Json::Value> heights(10000, Json::Value(20));
  for (Json::Value& h : heights) content["rowHeights"].append(std::move(h));
  return content;
}

void BM_InsertAndRemoveTopRow(benchmark::State& state) {
  Json::Value content = LargeSheet();
  zoltsh::Sheet sheet(content);
  for (auto _ : state) {
    sheet.CreateRow(0, 1);
    sheet.RemoveRow(0, 1);
  }
  benchmark::DoNotOptimize(content);
}
BENCHMARK(BM_InsertAndRemoveTopRow)->Unit(benchmark::kMillisecond);

// A column inserted and removed in the middle of the same sheet: every one of the 10,000 rows
// renumbers the cells right of it, so this walks all 1,000,000 cells twice.
void BM_InsertAndRemoveMiddleColumn(benchmark::State& state) {
  Json::Value content = LargeSheet();
  zoltsh::Sheet sheet(content);
  for (auto _ : state) {
    sheet.CreateColumn(50, 1);
    sheet.RemoveColumn(50, 1);
  }
  benchmark::DoNotOptimize(content);
}
BENCHMARK(BM_InsertAndRemoveMiddleColumn)->Unit(benchmark::kMillisecond);

// The floor of that: one walk over every cell of every row, reading each key in place.
void BM_FloorWalkAllCells(benchmark::State& state) {
  Json::Value content = LargeSheet();
  Json::Value& cells = content["cells"];
  for (auto _ : state) {
    size_t n = 0;
    for (Json::Value& row : cells) {
      for (auto it = row.begin(); it != row.end(); ++it) {
        const char* end = nullptr;
        n += static_cast<size_t>(it.memberName(&end)[0]);
      }
    }
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_FloorWalkAllCells)->Unit(benchmark::kMillisecond);

// The floor: the same grid's row keys moved down and back up by swapping values, nothing else.
void BM_FloorRenumberRowKeys(benchmark::State& state) {
  Json::Value content = zoltsh::bench::GenerateSheet(1000000);
  Json::Value& cells = content["cells"];
  const int rows = 10000;
  for (auto _ : state) {
    for (int delta : {1, -1}) {
      std::vector<Json::Value> aside(rows);
      const int from = delta > 0 ? 0 : 1;
      for (int r = 0; r < rows; ++r) aside[r].swap(cells[std::to_string(r + from)]);
      for (int r = 0; r < rows; ++r) cells[std::to_string(r + from + delta)].swap(aside[r]);
    }
  }
  benchmark::DoNotOptimize(content);
}
BENCHMARK(BM_FloorRenumberRowKeys)->Unit(benchmark::kMillisecond);

// n value writes, each at row rowCount, so each grows the sheet by one row. Linear cost per
// write shows as a ratio of 10 between the two sizes, quadratic as 100.
void BM_GrowingWrites(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Json::Value content(Json::objectValue);
    zoltsh::Sheet sheet(content);
    sheet.Init();
    content["rowHeights"].append(20);
    for (int i = 0; i < n; ++i) sheet.SetValue(sheet.GetRowCount(), i % 30, i);
    benchmark::DoNotOptimize(content);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_GrowingWrites)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
