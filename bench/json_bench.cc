// JSON text reading and writing of whole sheets: the system's reader and writer beside JsonCpp's
// own, on generated sheets of 10,000 to 1,000,000 cells. Reports bytes per second.
#include <benchmark/benchmark.h>
#include <json/reader.h>
#include <json/writer.h>

#include <map>
#include <memory>
#include <string>

#include "json/json_text.h"
#include "sheet_gen.h"

namespace {

const std::string& SheetText(int cells) {
  static std::map<int, std::string> texts;
  auto it = texts.find(cells);
  if (it == texts.end()) {
    it = texts.emplace(cells, Json::toString(zoltsh::bench::GenerateSheet(cells))).first;
  }
  return it->second;
}

const Json::Value& SheetValue(int cells) {
  static std::map<int, Json::Value> values;
  auto it = values.find(cells);
  if (it == values.end()) {
    // Parsed from text, as the system holds a sheet it loaded: generated trees are scattered in
    // memory and would measure cache misses rather than the writers.
    Json::Value parsed;
    Json::fromString(parsed, SheetText(cells));
    it = values.emplace(cells, std::move(parsed)).first;
  }
  return it->second;
}

void BM_ParseOurs(benchmark::State& state) {
  const std::string& text = SheetText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Json::Value v;
    if (!Json::fromString(v, text)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(v);
    state.PauseTiming();  // freeing the tree is not part of parsing
    Json::Value().swap(v);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_ParseJsonCpp(benchmark::State& state) {
  const std::string& text = SheetText(static_cast<int>(state.range(0)));
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  for (auto _ : state) {
    Json::Value v;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &v, &errors)) {
      state.SkipWithError("parse failed");
    }
    benchmark::DoNotOptimize(v);
    state.PauseTiming();
    Json::Value().swap(v);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_WriteOurs(benchmark::State& state) {
  const Json::Value& sheet = SheetValue(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = Json::toString(sheet);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_WriteJsonCpp(benchmark::State& state) {
  const Json::Value& sheet = SheetValue(static_cast<int>(state.range(0)));
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = Json::writeString(builder, sheet);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

#define SHEET_SIZES Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ParseOurs)->SHEET_SIZES;
BENCHMARK(BM_ParseJsonCpp)->SHEET_SIZES;
BENCHMARK(BM_WriteOurs)->SHEET_SIZES;
BENCHMARK(BM_WriteJsonCpp)->SHEET_SIZES;

}  // namespace

BENCHMARK_MAIN();
