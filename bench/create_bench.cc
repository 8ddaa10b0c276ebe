// The snapshot "create" path on a stored document whose edited sheet holds 1,000,000 cells
// (10,000 rows × 100 columns), beside its floor:
//   floor   load the index and that sheet, save them back as a new version, nothing else;
//   create  load the sheets a 1,000-command batch names, run the batch with an executor, merge
//           its editors into the index and save with the editors in the commit message.
// BM_CreateVsFloor runs both in every iteration, each on a fresh copy of the same stored document,
// and reports "ratio" = create / floor (wall time) with the parts of each. BM_BatchByKind runs the
// batch alone on a loaded sheet and reports the time per command kind, to show where a create
// spends more than its floor. Freeing the loaded document is left out of both, as in
// spreadsheet_bench.
//
// The batch is generated from a fixed seed, so every run executes the same commands: mostly value
// and style edits at random cells, some borders, comments, meta, sizes, hiding, merges, a filter,
// validations, conditional formats and images, a few row and column insertions and removals, two
// compound commands and the sort of a small range, from three users.
//
// Runs in a private appliance root that is removed at exit.
#include <benchmark/benchmark.h>
#include <json/value.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "drive/zolt_drive.h"
#include "json/json_text.h"
#include "sheet_gen.h"
#include "snapshot/executor.h"
#include "snapshot/spreadsheet.h"

namespace {

constexpr int kCells = 1000000;
constexpr int kCommands = 1000;
constexpr int kCols = 100;
constexpr int kRows = kCells / kCols;
constexpr const char* kSheet = "sh_1";

// ---- The batch --------------------------------------------------------------------------------

// How many commands of each kind the batch holds: the mix of a busy editing session.
struct KindCount {
  const char* cmd;
  int count;
};
constexpr KindCount kMix[] = {
    {"value", 591},           {"style", 180},
    {"border", 40},           {"meta", 30},
    {"comment", 20},          {"resize_row", 15},
    {"resize_col", 8},        {"hide_rows", 5},
    {"show_rows", 5},         {"hide_cols", 3},
    {"show_cols", 3},         {"merge", 12},
    {"unmerge", 6},           {"fix_row", 2},
    {"fix_col", 1},           {"create_filter", 2},
    {"set_filter", 8},        {"enable_filter", 2},
    {"disable_filter", 2},    {"create_validation", 10},
    {"remove_validation", 4}, {"create_cf", 8},
    {"remove_cf", 3},         {"insert_image", 6},
    {"resize_image", 6},      {"remove_image", 3},
    {"insert_row", 8},        {"remove_row", 8},
    {"insert_col", 3},        {"remove_col", 3},
    {"compound", 2},          {"sort", 1},
};

constexpr int MixTotal() {
  int total = 0;
  for (const KindCount& k : kMix) total += k.count;
  return total;
}
static_assert(MixTotal() == kCommands);

std::string A1(int row, int col) {
  std::string text;
  int n = col + 1;
  std::string letters;
  while (n > 0) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    n = (n - 1) / 26;
  }
  text += letters;
  text += std::to_string(row + 1);
  return text;
}

std::string A1Block(int top, int left, int bottom, int right) {
  std::string text = A1(top, left);
  text += ':';
  text += A1(bottom, right);
  return text;
}

Json::Value Ints(std::initializer_list<int> values) {
  Json::Value array(Json::arrayValue);
  for (int v : values) array.append(v);
  return array;
}

class BatchMaker {
 public:
  Json::Value Make() {
    std::vector<const char*> kinds;
    for (const KindCount& k : kMix) kinds.insert(kinds.end(), k.count, k.cmd);
    // Fisher-Yates with the generator's own numbers, so the order is the same everywhere.
    for (size_t i = kinds.size() - 1; i > 0; --i) std::swap(kinds[i], kinds[Below(i + 1)]);
    Json::Value batch(Json::arrayValue);
    for (const char* kind : kinds) batch.append(Make(kind));
    return batch;
  }

 private:
  size_t Below(size_t n) { return static_cast<size_t>(rng_() % n); }
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Below(static_cast<size_t>(hi - lo + 1)));
  }
  int Row() { return Between(0, rows_ - 1); }
  int Col() { return Between(0, cols_ - 1); }

  Json::Value Command(const char* cmd) {
    static constexpr unsigned kUsers[] = {1001, 1002, 1003};
    Json::Value c(Json::objectValue);
    c["cmd"] = cmd;
    c["id"] = kSheet;
    c["uid"] = kUsers[Below(3)];
    return c;
  }

  Json::Value Value() {
    switch (Below(20)) {
      case 0:
        return Json::Value();  // cleared
      case 1:
        return "=SUM(" + A1Block(Row(), Col(), Row(), Col()) + ")";
      case 2:
      case 3:
      case 4:
      case 5:
        return "item " + std::to_string(Below(1000));
      case 6:
      case 7:
      case 8:
      case 9:
      case 10:
        return static_cast<int>(Below(100000));
      default:
        return static_cast<double>(Below(10000000)) / 100.0;
    }
  }

  Json::Value Style() {
    static constexpr const char* kColors[] = {"#336699", "#cc0000", "#00aa44", "#ffcc00"};
    Json::Value s(Json::objectValue);
    switch (Below(5)) {
      case 0:
        s["fontWeight"] = "bold";
        break;
      case 1:
        s["color"] = kColors[Below(4)];
        break;
      case 2:
        s["backgroundColor"] = kColors[Below(4)];
        break;
      case 3:
        s["textAlign"] = "right";
        s["numberFormat"] = "#,##0.00";
        break;
      default:
        s["fontWeight"] = Json::Value();  // bold off
        s["fontStyle"] = "italic";
    }
    return s;
  }

  Json::Value Changes(int n, Json::Value (BatchMaker::*payload)()) {
    Json::Value changes(Json::arrayValue);
    for (int i = 0; i < n; ++i) {
      Json::Value change(Json::arrayValue);
      change.append(Row());
      change.append(Col());
      change.append((this->*payload)());
      changes.append(std::move(change));
    }
    return changes;
  }

  Json::Value Border() {
    Json::Value side(Json::objectValue);
    side["style"] = Below(2) == 0 ? "thin" : "medium";
    side["color"] = "#000000";
    Json::Value b(Json::arrayValue);
    b.append(side);
    b.append(Json::Value());
    b.append(side);
    b.append(Json::Value());
    return b;
  }

  Json::Value Comment() {
    Json::Value c(Json::arrayValue);
    c.append("please check " + std::to_string(Below(100)));
    c.append(static_cast<Json::UInt64>(1700000000000ULL + Below(100000000)));
    return c;
  }

  Json::Value Make(const std::string& kind) {
    Json::Value c = Command(kind.c_str());
    if (kind == "value") {
      c["changes"] = Changes(Below(4) == 0 ? Between(2, 3) : 1, &BatchMaker::Value);
    } else if (kind == "style") {
      c["changes"] = Changes(Between(1, 4), &BatchMaker::Style);
      if (Below(10) == 0) c["overwrite"] = true;
    } else if (kind == "border") {
      c["changes"] = Changes(Between(1, 2), &BatchMaker::Border);
    } else if (kind == "comment") {
      c["changes"] = Changes(1, &BatchMaker::Comment);
    } else if (kind == "meta") {
      Json::Value change(Json::objectValue);
      change["key"] = "format";
      Json::Value val(Json::arrayValue);
      val.append(Row());
      val.append(Col());
      val.append("0.00%");
      change["vals"].append(std::move(val));
      c["changes"].append(std::move(change));
    } else if (kind == "resize_row" || kind == "hide_rows" || kind == "show_rows") {
      const int from = Row();
      c["from"] = from;
      c["to"] = std::min(from + Between(0, 2), rows_ - 1);
      if (kind == "resize_row") c["height"] = Between(18, 40);
    } else if (kind == "resize_col" || kind == "hide_cols" || kind == "show_cols") {
      const int from = Col();
      c["from"] = from;
      c["to"] = std::min(from + Between(0, 1), cols_ - 1);
      if (kind == "resize_col") c["width"] = Between(60, 160);
    } else if (kind == "merge") {
      const int top = Row(), left = Between(0, cols_ - 4);
      c["range"] =
          Ints({top, left, std::min(top + Between(0, 2), rows_ - 1), left + Between(1, 3)});
      merges_.push_back(c["range"]);
    } else if (kind == "unmerge") {
      c["range"] = merges_.empty() ? Ints({Row(), 0, 0, 1}) : merges_[Below(merges_.size())];
      c["range"][2] = c["range"][0];  // the top-left cell is what counts
    } else if (kind == "fix_row") {
      c["row"] = 1;
    } else if (kind == "fix_col") {
      c["col"] = 1;
    } else if (kind == "create_filter") {
      c["filterId"] = "flt1";
      c["range"] = Ints({0, 0, rows_ - 1, 9});
    } else if (kind == "set_filter") {
      c["filterId"] = "flt1";
      c["col"] = Between(0, 9);
      c["condition"]["type"] = "values";
      c["condition"]["values"].append("item " + std::to_string(Below(1000)));
    } else if (kind == "enable_filter" || kind == "disable_filter") {
      c["filterId"] = "flt1";
    } else if (kind == "create_validation") {
      const int top = Row(), col = Col();
      c["range"] = A1Block(top, col, std::min(top + Between(5, 50), rows_ - 1), col);
      c["validation"]["validId"] = "val" + std::to_string(validations_++);
      c["validation"]["type"] = "decimal";
      c["validation"]["operator"] = "between";
      c["validation"]["f1"] = "0";
      c["validation"]["f2"] = "100";
    } else if (kind == "remove_validation") {
      const int top = Row(), col = Col();
      c["range"] = A1Block(top, col, std::min(top + 10, rows_ - 1), col);
      c["validId"] = "val" + std::to_string(validations_ == 0 ? 0 : Below(validations_));
    } else if (kind == "create_cf") {
      const int top = Row(), col = Col();
      Json::Value& cf = c["cf"];
      cf["cfId"] = "cf" + std::to_string(cfs_++);
      cf["type"] = "cellIs";
      cf["ranges"].append(A1Block(top, col, std::min(top + 500, rows_ - 1), col));
      cf["f1"] = A1(top, col) + ">100";
      cf["style"]["color"] = "#cc0000";
      c["index"] = 0;
    } else if (kind == "remove_cf") {
      c["cfId"] = "cf" + std::to_string(cfs_ == 0 ? 0 : Below(cfs_));
    } else if (kind == "insert_image" || kind == "resize_image" || kind == "remove_image") {
      if (kind == "insert_image") ++images_;
      c["imageId"] = "img" + std::to_string(images_ == 0 ? 0 : Below(images_));
      if (kind != "remove_image") {
        c["position"]["row"] = Row();
        c["position"]["col"] = Col();
        c["position"]["w"] = Between(100, 400);
        c["position"]["h"] = Between(80, 300);
      }
    } else if (kind == "insert_row" || kind == "remove_row") {
      const int amount = Between(1, 3);
      c["index"] = Between(0, rows_ - amount);
      c["amount"] = amount;
      rows_ += kind == "insert_row" ? amount : -amount;
    } else if (kind == "insert_col" || kind == "remove_col") {
      c["index"] = Between(0, cols_ - 1);
      c["amount"] = 1;
      cols_ += kind == "insert_col" ? 1 : -1;
    } else if (kind == "compound") {
      c["actions"] = compounds_++ == 0 ? InsertAndFillRow() : PasteBlock();
    } else if (kind == "sort") {
      const int top = Between(0, rows_ - 20), left = Between(0, cols_ - 5);
      c["range"] = Ints({top, left, top + 19, left + 4});
      std::vector<int> order(20);
      for (int i = 0; i < 20; ++i) order[static_cast<size_t>(i)] = i;
      for (size_t i = order.size() - 1; i > 0; --i) std::swap(order[i], order[Below(i + 1)]);
      for (int o : order) c["rowOrder"].append(o);
    }
    return c;
  }

  // A row inserted and typed into: the insertion, its values and a style, as one undo step.
  Json::Value InsertAndFillRow() {
    Json::Value actions(Json::arrayValue);
    const int row = Row();
    Json::Value insert = Command("insert_row");
    insert["index"] = row;
    insert["amount"] = 1;
    ++rows_;
    actions.append(std::move(insert));
    Json::Value values = Command("value");
    for (int col = 0; col < 6; ++col) {
      Json::Value change(Json::arrayValue);
      change.append(row);
      change.append(col);
      change.append(Value());
      values["changes"].append(std::move(change));
    }
    actions.append(std::move(values));
    Json::Value style = Command("style");
    Json::Value change(Json::arrayValue);
    change.append(row);
    change.append(0);
    change.append(Style());
    style["changes"].append(std::move(change));
    actions.append(std::move(style));
    return actions;
  }

  // A pasted block of 10 × 5 cells: values and styles.
  Json::Value PasteBlock() {
    Json::Value actions(Json::arrayValue);
    const int top = Between(0, rows_ - 10), left = Between(0, cols_ - 5);
    Json::Value values = Command("value");
    Json::Value styles = Command("style");
    for (int r = top; r < top + 10; ++r) {
      for (int col = left; col < left + 5; ++col) {
        Json::Value v(Json::arrayValue);
        v.append(r);
        v.append(col);
        v.append(Value());
        values["changes"].append(std::move(v));
        Json::Value s(Json::arrayValue);
        s.append(r);
        s.append(col);
        s.append(Style());
        styles["changes"].append(std::move(s));
      }
    }
    actions.append(std::move(values));
    actions.append(std::move(styles));
    return actions;
  }

  std::mt19937 rng_{20240611};
  int rows_ = kRows;
  int cols_ = kCols;
  int validations_ = 0;
  int cfs_ = 0;
  int images_ = 0;
  int compounds_ = 0;
  std::vector<Json::Value> merges_;
};

// ---- The store --------------------------------------------------------------------------------

Json::Value Request(const std::string& id) {
  Json::Value req(Json::objectValue);
  req["ns"] = "Tabvale";
  req["id"] = id;
  req["requester"] = 0;
  return req;
}

// Marks the sheets the commands name, those inside compound commands included, as the snapshot
// service selects what to load.
void SelectSheets(const Json::Value& commands, Json::Value& selection, int depth) {
  if (depth > 1) return;
  for (const Json::Value& c : commands) {
    if (!c.isObject()) continue;
    if (c["cmd"].isString() && c["cmd"].asString() == "compound") {
      if (c["actions"].isArray()) SelectSheets(c["actions"], selection, depth + 1);
    } else if (c["id"].isString()) {
      selection[c["id"].asString()] = true;
    }
  }
}

class Store {
 public:
  Store() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zoltsh-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    root_ = tmpl;
    ::setenv("ZOLT_ROOT", root_.c_str(), 1);
    batch_ = BatchMaker().Make();
    zoltsh::SpreadSheet doc;
    doc.index["maxIndex"] = 2;
    doc.index["order"].append("sh_1");
    doc.index["order"].append("sh_2");
    doc.index["sheets"]["sh_1"]["title"] = "Data";
    doc.index["sheets"]["sh_2"]["title"] = "Summary";
    doc.index["editors"].append(1001);
    doc.sheets["sh_1"] = zoltsh::bench::GenerateSheet(kCells);
    doc.sheets["sh_2"] = zoltsh::bench::GenerateSheet(500, 2);
    Json::Value req = Request(kMaster);
    req["owner"] = 1001;
    doc.toDriveText(req["text"], "");
    ZOLT_DRIVE_OBJECT object;
    if (!object.Create(req)) std::abort();
  }
  ~Store() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  const Json::Value& batch() const { return batch_; }

  // A fresh copy of the stored document; its id.
  std::string Copy() {
    const std::string id = "copy-" + std::to_string(copies_++);
    Json::Value req = Request(kMaster);
    req["new_id"] = id;
    ZOLT_DRIVE_OBJECT object;
    if (!object.Copy(req)) std::abort();
    return id;
  }
  static void Delete(const std::string& id) {
    if (!ZOLT_DRIVE_OBJECT::Delete(Request(id))) std::abort();
  }

 private:
  static constexpr const char* kMaster = "master";
  std::string root_;
  Json::Value batch_;
  int copies_ = 0;
};

Store& TheStore() {
  static Store store;
  return store;
}

// ---- The two paths ----------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Parts {
  double load = 0, execute = 0, save = 0, cpu = 0;
  double total() const { return load + execute + save; }
};

// (a) Load the index and the sheet, save them back.
Parts Floor(const std::string& id, zoltsh::SpreadSheet& doc) {
  Parts p;
  const double cpu = CpuMs();
  const Clock::time_point t0 = Clock::now();
  Json::Value load = Request(id);
  load["field"]["text"]["index"] = true;
  load["field"]["text"][kSheet] = true;
  doc.LoadFromDrive(load, "");
  const Clock::time_point t1 = Clock::now();
  Json::Value save = Request(id);
  save["commit_msg"]["listable"] = true;
  save["commit_msg"]["editors"] = Json::Value(Json::arrayValue);
  doc.SaveToDrive(save, "");
  const Clock::time_point t2 = Clock::now();
  p.load = Ms(t1 - t0);
  p.save = Ms(t2 - t1);
  p.cpu = CpuMs() - cpu;
  return p;
}

// (b) Load what the batch names, run it, record the editors, save.
Parts Create(const std::string& id, const Json::Value& batch, zoltsh::SpreadSheet& doc,
             int* rejected) {
  Parts p;
  const double cpu = CpuMs();
  const Clock::time_point t0 = Clock::now();
  Json::Value load = Request(id);
  Json::Value& selection = load["field"]["text"];
  selection["index"] = true;
  SelectSheets(batch, selection, 0);
  doc.LoadFromDrive(load, "");
  const Clock::time_point t1 = Clock::now();
  zoltsh::Executor executor(doc);
  for (const Json::Value& command : batch) *rejected += executor.ExecuteCommand(command) ? 0 : 1;
  executor.UpdateIndex();
  const Clock::time_point t2 = Clock::now();
  Json::Value save = Request(id);
  save["commit_msg"]["listable"] = true;
  Json::Value& editors = save["commit_msg"]["editors"] = Json::Value(Json::arrayValue);
  for (unsigned uid : executor.GetEditors()) editors.append(uid);
  doc.SaveToDrive(save, "");
  const Clock::time_point t3 = Clock::now();
  p.load = Ms(t1 - t0);
  p.execute = Ms(t2 - t1);
  p.save = Ms(t3 - t2);
  p.cpu = CpuMs() - cpu;
  return p;
}

void BM_CreateVsFloor(benchmark::State& state) {
  Store& store = TheStore();
  Parts floor, create;
  int rejected = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string floorId = store.Copy();
    const std::string createId = store.Copy();
    state.ResumeTiming();
    {
      zoltsh::SpreadSheet doc;
      const Parts p = Floor(floorId, doc);
      floor.load += p.load;
      floor.save += p.save;
      floor.cpu += p.cpu;
      state.PauseTiming();  // the document is freed here, outside the measurement
    }
    state.ResumeTiming();
    {
      zoltsh::SpreadSheet doc;
      const Parts p = Create(createId, store.batch(), doc, &rejected);
      create.load += p.load;
      create.execute += p.execute;
      create.save += p.save;
      create.cpu += p.cpu;
      state.PauseTiming();
    }
    Store::Delete(floorId);
    Store::Delete(createId);
    state.ResumeTiming();
  }
  using benchmark::Counter;
  const auto avg = [&](double v) { return Counter(v, Counter::kAvgIterations); };
  state.counters["floor_ms"] = avg(floor.total());
  state.counters["floor_load_ms"] = avg(floor.load);
  state.counters["floor_save_ms"] = avg(floor.save);
  state.counters["floor_cpu_ms"] = avg(floor.cpu);
  state.counters["create_ms"] = avg(create.total());
  state.counters["create_load_ms"] = avg(create.load);
  state.counters["create_exec_ms"] = avg(create.execute);
  state.counters["create_save_ms"] = avg(create.save);
  state.counters["create_cpu_ms"] = avg(create.cpu);
  state.counters["ratio"] = floor.total() > 0 ? create.total() / floor.total() : 0;
  state.counters["cpu_ratio"] = floor.cpu > 0 ? create.cpu / floor.cpu : 0;
  state.counters["rejected"] = avg(rejected);
}

// The batch alone on a loaded sheet, timed per command kind (the kind of a compound is
// "compound", its actions included).
void BM_BatchByKind(benchmark::State& state) {
  Store& store = TheStore();
  const std::string id = store.Copy();
  std::map<std::string, double> byKind;
  for (auto _ : state) {
    state.PauseTiming();
    {
      zoltsh::SpreadSheet doc;
      Json::Value load = Request(id);
      load["field"]["text"]["index"] = true;
      load["field"]["text"][kSheet] = true;
      doc.LoadFromDrive(load, "");
      state.ResumeTiming();
      zoltsh::Executor executor(doc);
      for (const Json::Value& command : store.batch()) {
        const Clock::time_point t0 = Clock::now();
        executor.ExecuteCommand(command);
        byKind[command["cmd"].asString()] += Ms(Clock::now() - t0);
      }
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  Store::Delete(id);
  for (const auto& [kind, ms] : byKind) {
    state.counters[kind] = benchmark::Counter(ms, benchmark::Counter::kAvgIterations);
  }
}

BENCHMARK(BM_CreateVsFloor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BatchByKind)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
